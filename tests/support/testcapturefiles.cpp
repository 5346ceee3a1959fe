#include "testcapturefiles.h"

namespace {

void append16(QByteArray *bytes, quint16 value)
{
    bytes->append(char(value >> 8)).append(char(value & 0xFF));
}

void append32le(QByteArray *bytes, quint32 value)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes->append(char((value >> shift) & 0xFF));
}

void append32(QByteArray *bytes, quint32 value, bool bigEndian)
{
    for (int byte = 0; byte < 4; ++byte)
        bytes->append(char((value >> (bigEndian ? 24 - 8 * byte : 8 * byte)) & 0xFF));
}

// Type, total length, the body padded to 32 bits, the total length again.
QByteArray pcapngBlock(quint32 type, QByteArray body, bool bigEndian)
{
    body.append(QByteArray((4 - body.size() % 4) % 4, '\0'));
    QByteArray block;
    append32(&block, type, bigEndian);
    append32(&block, quint32(body.size() + 12), bigEndian);
    block += body;
    append32(&block, quint32(body.size() + 12), bigEndian);
    return block;
}

} // namespace

namespace TestCaptureFiles {

QByteArray Ipv4Udp::bytes() const
{
    const int headerSize = (versionAndWords & 0x0F) * 4;
    QByteArray packet;
    packet.append(char(versionAndWords)).append('\0');
    append16(&packet, quint16(qMax(20, headerSize) + 8 + payload.size() + totalLengthExcess));
    append16(&packet, 1);
    append16(&packet, fragment);
    packet.append(char(64)).append(char(protocol));
    append16(&packet, 0);
    append16(&packet, quint16(source >> 16));
    append16(&packet, quint16(source & 0xFFFF));
    append16(&packet, quint16(destination >> 16));
    append16(&packet, quint16(destination & 0xFFFF));
    packet.append(QByteArray(qMax(0, headerSize - 20), '\0'));
    append16(&packet, sourcePort);
    append16(&packet, destinationPort);
    append16(&packet, quint16(8 + payload.size() + udpLengthExcess));
    append16(&packet, 0);
    return packet + payload;
}

QByteArray ethernet(const QByteArray &packet, quint16 etherType, bool vlanTag)
{
    QByteArray frame(12, '\x02');
    if (vlanTag) {
        append16(&frame, 0x8100);
        append16(&frame, 7);
    }
    append16(&frame, etherType);
    return frame + packet;
}

QByteArray pcapHeader(quint32 linkType, quint32 snapLength, quint32 magic)
{
    QByteArray header;
    append32le(&header, magic);
    header.append("\x02\x00\x04\x00", 4);
    append32le(&header, 0);
    append32le(&header, 0);
    append32le(&header, snapLength);
    append32le(&header, linkType);
    return header;
}

QByteArray pcapRecord(const QByteArray &packet, qint64 captured, qint64 wire, quint32 fraction)
{
    QByteArray record;
    append32le(&record, 1);
    append32le(&record, fraction);
    append32le(&record, quint32(captured < 0 ? packet.size() : captured));
    append32le(&record, quint32(wire < 0 ? packet.size() : wire));
    return record + packet;
}

QByteArray pcapRecordAt(const QByteArray &packet, qint64 microseconds)
{
    QByteArray record;
    append32le(&record, quint32(microseconds / 1'000'000));
    append32le(&record, quint32(microseconds % 1'000'000));
    append32le(&record, quint32(packet.size()));
    append32le(&record, quint32(packet.size()));
    return record + packet;
}

QByteArray ethernetFile(const QList<QByteArray> &packets)
{
    QByteArray file = pcapHeader(1);
    quint32 microseconds = 0;
    for (const QByteArray &packet : packets)
        file += pcapRecord(ethernet(packet), -1, -1, microseconds++);
    return file;
}

QByteArray pcapngSection(quint16 linkType, const QList<QByteArray> &packets, bool bigEndian,
                         int filler)
{
    QByteArray sectionHeader, interface;
    append32(&sectionHeader, 0x1A2B3C4D, bigEndian);
    append32(&sectionHeader, bigEndian ? 0x00010000 : 0x00000001, bigEndian); // version 1.0
    sectionHeader.append(QByteArray(8, '\xFF')); // section length not given
    append32(&interface, bigEndian ? quint32(linkType) << 16 : linkType, bigEndian);
    append32(&interface, 65535, bigEndian);
    QByteArray section = pcapngBlock(0x0A0D0D0A, sectionHeader, bigEndian)
        + pcapngBlock(1, interface, bigEndian);
    if (filler > 0)
        section += pcapngBlock(0x0BAD, QByteArray(filler, '\x55'), bigEndian);
    quint32 microseconds = 1'000'000;
    for (const QByteArray &packet : packets) {
        QByteArray body;
        append32(&body, 0, bigEndian); // interface
        append32(&body, 0, bigEndian);
        append32(&body, microseconds++, bigEndian);
        append32(&body, quint32(packet.size()), bigEndian);
        append32(&body, quint32(packet.size()), bigEndian);
        section += pcapngBlock(6, body + packet, bigEndian);
    }
    return section;
}

} // namespace TestCaptureFiles
