// Reading a large capture file: the reader's datagrams per second beside a plain libpcap loop
// over the same file in the same run, and the index's one pass. Sends nothing, so it needs no
// private network; run the index pass under /usr/bin/time -v for its peak memory.
//
//   bench_capturefile make PATH [DATAGRAMS]  an Ethernet capture of ArtDmx for 1000 universes
//                                            in turn, 44,000 a second (default 2,000,000)
//   bench_capturefile read PATH              a plain pcap_next_ex() loop, then the reader
//   bench_capturefile index PATH             CaptureIndex::build()

#include "capturefilereader.h"
#include "captureindex.h"
#include "testcapturefiles.h"
#include "testpackets.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <pcap/pcap.h>

#include <cstdio>
#include <cstring>

namespace {

int make(const char *path, long datagrams)
{
    pcap_t *dead = pcap_open_dead_with_tstamp_precision(DLT_EN10MB, 65535,
                                                        PCAP_TSTAMP_PRECISION_MICRO);
    pcap_dumper_t *dumper = pcap_dump_open(dead, path);
    if (!dumper) {
        std::fprintf(stderr, "bench_capturefile: %s\n", pcap_geterr(dead));
        return 1;
    }
    constexpr int Universes = 1000;
    constexpr long PerSecond = 44000;
    QList<QByteArray> frames;
    for (int universe = 0; universe < Universes; ++universe) {
        TestCaptureFiles::Ipv4Udp datagram;
        datagram.payload = TestPackets::artDmx(quint16(universe), QByteArray(512, char(universe)));
        frames << TestCaptureFiles::ethernet(datagram.bytes());
    }
    for (long i = 0; i < datagrams; ++i) {
        const QByteArray &frame = frames.at(int(i % Universes));
        pcap_pkthdr header = {};
        header.ts.tv_sec = 1700000000 + i / PerSecond;
        header.ts.tv_usec = (i % PerSecond) * 1000000 / PerSecond;
        header.caplen = header.len = bpf_u_int32(frame.size());
        pcap_dump(reinterpret_cast<u_char *>(dumper), &header,
                  reinterpret_cast<const u_char *>(frame.constData()));
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    std::printf("wrote %ld datagrams, %lld bytes\n", datagrams, QFile(path).size());
    return 0;
}

void report(const char *what, quint64 datagrams, qint64 elapsedNs, quint64 checksum)
{
    std::printf("%-28s %10llu datagrams in %7.3f s: %8.0f datagrams/s (checksum %llu)\n", what,
                static_cast<unsigned long long>(datagrams), elapsedNs / 1e9,
                datagrams / (elapsedNs / 1e9), static_cast<unsigned long long>(checksum));
}

int read(const char *path)
{
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t *plain = pcap_open_offline_with_tstamp_precision(path, PCAP_TSTAMP_PRECISION_NANO,
                                                            error);
    if (!plain) {
        std::fprintf(stderr, "bench_capturefile: %s\n", error);
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    pcap_pkthdr *header = nullptr;
    const u_char *data = nullptr;
    quint64 records = 0, checksum = 0;
    while (pcap_next_ex(plain, &header, &data) == 1) {
        ++records;
        checksum += data[header->caplen - 1];
    }
    report("plain pcap_next_ex() loop", records, clock.nsecsElapsed(), checksum);
    pcap_close(plain);

    CaptureFileReader reader;
    if (!reader.open(QString::fromLocal8Bit(path))) {
        std::fprintf(stderr, "bench_capturefile: %s\n", qPrintable(reader.errorString()));
        return 1;
    }
    clock.restart();
    CapturedDatagram datagram;
    checksum = 0;
    while (reader.readNext(&datagram))
        checksum += datagram.payload[datagram.payloadLength - 1];
    report("CaptureFileReader", reader.counts().datagrams, clock.nsecsElapsed(), checksum);
    return 0;
}

int index(const char *path)
{
    QElapsedTimer clock;
    clock.start();
    CaptureIndex captureIndex;
    if (!captureIndex.build(QString::fromLocal8Bit(path))) {
        std::fprintf(stderr, "bench_capturefile: %s\n", qPrintable(captureIndex.errorString()));
        return 1;
    }
    report("CaptureIndex::build()", captureIndex.datagrams(), clock.nsecsElapsed(),
           captureIndex.entries().size());
    std::printf("%zu entries, every %llu datagrams; %.3f s of capture\n",
                captureIndex.entries().size(),
                static_cast<unsigned long long>(captureIndex.stride()),
                (captureIndex.lastTimeNs() - captureIndex.firstTimeNs()) / 1e9);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "make") == 0)
        return make(argv[2], argc >= 4 ? std::atol(argv[3]) : 2000000);
    if (argc == 3 && std::strcmp(argv[1], "read") == 0)
        return read(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "index") == 0)
        return index(argv[2]);
    std::fprintf(stderr, "usage: bench_capturefile make|read|index PATH [DATAGRAMS]\n");
    return 2;
}
