// Feeds arbitrary bytes to the capture-file reader as a whole file (through a memory stream,
// libpcap's own pcap and pcapng readers included), and to the framing of one record under
// every link layer, the record whole and as if the snapshot length had cut it.
//
// Checked besides the sanitizers and libFuzzer's time limit (a file that makes the reader
// loop is a finding):
//   - every datagram's payload lies inside the input, to or from port 6454 or 5568;
//   - the counts add up: every record read is counted once under one verdict;
//   - the reader ends within as many records as the input could hold, and once it has said
//     false it says false again;
//   - seek() back to the position of the first datagram reads that datagram again;
//   - the framing's payload lies inside the record it was given.

#include "capturefilereader.h"
#include "captureframing.h"
#include "fuzzenvironment.h"

#include <QString>

#include <cstdio>

namespace {

#define REQUIRE(condition) FUZZ_REQUIRE("fuzz_capture", condition)

constexpr CaptureFraming::LinkLayer LinkLayers[] = {
    CaptureFraming::LinkLayer::Ethernet,     CaptureFraming::LinkLayer::LinuxCooked,
    CaptureFraming::LinkLayer::LinuxCooked2, CaptureFraming::LinkLayer::RawIp,
    CaptureFraming::LinkLayer::Ipv4,         CaptureFraming::LinkLayer::BsdLoopback,
};

bool isLightingPort(quint16 port)
{
    return port == CaptureFraming::ArtNetPort || port == CaptureFraming::SacnPort;
}

void checkDatagram(const CapturedDatagram &datagram)
{
    REQUIRE(datagram.payload != nullptr);
    REQUIRE(datagram.payloadLength >= 0);
    REQUIRE(isLightingPort(datagram.sourcePort) || isLightingPort(datagram.destinationPort));
}

void checkFraming(const uint8_t *data, size_t size)
{
    const int length = int(qMin<size_t>(size, 1 << 20));
    for (CaptureFraming::LinkLayer linkLayer : LinkLayers) {
        for (int wireLength : {length, length + 100}) {
            CapturedDatagram datagram;
            if (CaptureFraming::frame(linkLayer, data, length, wireLength, &datagram)
                != CaptureFraming::Verdict::Datagram)
                continue;
            checkDatagram(datagram);
            REQUIRE(datagram.payload >= data);
            REQUIRE(datagram.payload + datagram.payloadLength <= data + length);
        }
    }
}

quint64 total(const CaptureFileReader::Counts &counts)
{
    return counts.datagrams + counts.notIpv4 + counts.notUdp + counts.otherPorts
        + counts.fragments + counts.malformed;
}

void checkFile(const uint8_t *data, size_t size)
{
    if (size == 0)
        return;
    // fmemopen does not write to a buffer opened for reading.
    FILE *stream = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    REQUIRE(stream != nullptr);
    CaptureFileReader reader;
    if (!reader.open(stream, QStringLiteral("input"))) {
        REQUIRE(!reader.errorString().isEmpty());
        REQUIRE(!reader.isOpen());
        return;
    }
    CapturedDatagram datagram;
    qint64 firstPosition = -1;
    QByteArray firstPayload;
    for (;;) {
        const qint64 position = reader.position();
        if (!reader.readNext(&datagram))
            break;
        checkDatagram(datagram);
        if (firstPosition < 0) {
            firstPosition = position;
            firstPayload = QByteArray(reinterpret_cast<const char *>(datagram.payload),
                                      datagram.payloadLength);
        }
        // A record takes at least its 16-byte header (pcap) or 12-byte block (pcapng).
        REQUIRE(reader.counts().records <= size / 12);
    }
    REQUIRE(!reader.readNext(&datagram));
    const CaptureFileReader::Counts counts = reader.counts();
    REQUIRE(total(counts) == counts.records);
    if (firstPosition >= 0) {
        REQUIRE(reader.seek(firstPosition));
        REQUIRE(reader.readNext(&datagram));
        REQUIRE(QByteArray(reinterpret_cast<const char *>(datagram.payload),
                           datagram.payloadLength) == firstPayload);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzEnvironment::setUp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkFraming(data, size);
    checkFile(data, size);
    return 0;
}
