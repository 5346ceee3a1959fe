#ifndef TESTCAPTUREFILES_H
#define TESTCAPTUREFILES_H

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// Capture files (little-endian pcap, pcapng in either byte order) and the packets in their records, written byte by byte
// here from the formats' layouts and never through the program's own code, with fields that
// may lie.
namespace TestCaptureFiles {

// An IPv4/UDP packet from 10.0.0.1, to 10.0.0.2 unless told.
struct Ipv4Udp
{
    quint32 source = 0x0A000001;
    quint32 destination = 0x0A000002;
    quint16 sourcePort = 6454;
    quint16 destinationPort = 6454;
    QByteArray payload = "payload";
    quint8 versionAndWords = 0x45;
    quint16 fragment = 0;
    quint8 protocol = 17;
    int totalLengthExcess = 0;
    int udpLengthExcess = 0;

    QByteArray bytes() const;
};

QByteArray ethernet(const QByteArray &packet, quint16 etherType = 0x0800, bool vlanTag = false);

constexpr quint32 MicrosecondMagic = 0xA1B2C3D4;
constexpr quint32 NanosecondMagic = 0xA1B23C4D;
QByteArray pcapHeader(quint32 linkType, quint32 snapLength = 65535,
                      quint32 magic = MicrosecondMagic);
// A record at 1 s and fraction (µs or ns, as the header says); captured and wire lengths
// default to the packet's size.
QByteArray pcapRecord(const QByteArray &packet, qint64 captured = -1, qint64 wire = -1,
                      quint32 fraction = 2);
// A record at a time in microseconds (in a file of µs precision).
QByteArray pcapRecordAt(const QByteArray &packet, qint64 microseconds);
// An Ethernet capture of the packets, one record each, a microsecond apart from 1 s.
QByteArray ethernetFile(const QList<QByteArray> &packets);
// A pcapng section in either byte order: its header, one interface of the link type, a block of
// an unknown type with filler bytes when asked (readers pass over it), and one packet block per
// packet, a microsecond apart from 1 s.
QByteArray pcapngSection(quint16 linkType, const QList<QByteArray> &packets,
                         bool bigEndian = false, int filler = 0);

} // namespace TestCaptureFiles

#endif // TESTCAPTUREFILES_H
