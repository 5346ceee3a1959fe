// The Art-Net packets byte by byte, without a socket: what the writers put in a buffer, checked
// against packets written out here by hand field by field, and what the readers take from
// whole, short and lying datagrams.
#include "artnet.h"
#include "artnetpackets.h"
#include "nodeinfo.h"
#include "timecodesource.h"
#include "trafficcensus.h"

#include <QTest>

#include <algorithm>
#include <cstring>
#include <memory>

using namespace ArtNetPackets;

namespace {

QByteArray ramp(int count, int first = 1)
{
    QByteArray data;
    for (int i = 0; i < count; ++i)
        data += char((first + i) & 0xFF);
    return data;
}

// A buffer full of a byte no field holds, so that a field the writer leaves out shows.
struct DirtyPacket
{
    uchar bytes[Dmx::MaxSize + 16];
    DirtyPacket() { std::memset(bytes, 0xEE, sizeof bytes); }
    QByteArray written(int size) const { return QByteArray(reinterpret_cast<const char *>(bytes), size); }
    bool untouchedFrom(int size) const
    {
        return std::all_of(bytes + size, bytes + sizeof bytes, [](uchar b) { return b == 0xEE; });
    }
};

// An ArtPollReply as this node must send it, field by field.
struct ExpectedReply
{
    QByteArray ip = QByteArray::fromHex("0200000a");
    quint8 netSwitch = 0;
    quint8 subSwitch = 0;
    QByteArray shortName = "Vardolux";
    quint8 ports = 0;
    QByteArray swOut = QByteArray(4, '\0'); // SwIn carries the same bytes
    QByteArray mac = QByteArray::fromHex("02000000000a");
    quint8 bindIndex = 0;
};

QByteArray replyBytes(const ExpectedReply &e)
{
    QByteArray r("Art-Net", 8);                                   //   0 ID and its zero byte
    r += QByteArray::fromHex("0021");                             //   8 OpCode 0x2100, low first
    r += e.ip;                                                    //  10 IP, most significant first
    r += QByteArray::fromHex("3619");                             //  14 Port 6454, low first
    r += QByteArray::fromHex("0006");                             //  16 VersInfoH, VersInfoL
    r += char(e.netSwitch);                                       //  18 NetSwitch
    r += char(e.subSwitch);                                       //  19 SubSwitch
    r += QByteArray::fromHex("00ff");                             //  20 OemHi, Oem
    r += QByteArray::fromHex("00");                               //  22 UbeaVersion
    r += QByteArray::fromHex("00");                               //  23 Status1
    r += QByteArray::fromHex("0000");                             //  24 EstaMan
    r += e.shortName.leftJustified(18, '\0');                     //  26 ShortName
    r += QByteArray("Vardolux V0.6 by www.vardolux.example").leftJustified(64, '\0'); // 44 LongName
    r += QByteArray(64, '\0');                                    // 108 NodeReport
    r += char(0);                                                 // 172 NumPortsHi
    r += char(e.ports);                                           // 173 NumPortsLo
    r += QByteArray::fromHex("85858585");                         // 174 PortTypes
    r += QByteArray::fromHex("00000000");                         // 178 GoodInput
    r += QByteArray::fromHex("80808080");                         // 182 GoodOutput
    r += e.swOut;                                                 // 186 SwIn
    r += e.swOut;                                                 // 190 SwOut
    r += QByteArray::fromHex("000000");                           // 194 SwVideo, SwMacro, SwRemote
    r += QByteArray::fromHex("000000");                           // 197 Spare
    r += char(0);                                                 // 200 Style
    r += e.mac;                                                   // 201 MAC
    r += QByteArray::fromHex("00000000");                         // 207 BindIp
    r += char(e.bindIndex);                                       // 211 BindIndex
    r += char(0);                                                 // 212 Status2
    r += QByteArray(27, '\0');                                    // 213 Filler
    Q_ASSERT(r.size() == 240);
    return r;
}

} // namespace

class tst_artnetpackets : public QObject
{
    Q_OBJECT

private slots:
    // Writers
    void artDmx_data();
    void artDmx();
    void artPoll();
    void artTimeCode();
    void artPollReply_data();
    void artPollReply();

    // Readers
    void artDmxFields_data();
    void artDmxFields();
    void artTimeCodeFields_data();
    void artTimeCodeFields();
    void artPollReplyFields_data();
    void artPollReplyFields();
};

// ---------------------------------------------------------------------------------------------
// Writers

void tst_artnetpackets::artDmx_data()
{
    QTest::addColumn<quint16>("universe");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("carried");

    // Bytes 0 to 17: ID, OpCode 0x5000, ProtVer 0 14, Sequence 0, Physical 0, SubUni, Net,
    // LengthHi, Length.
    QTest::newRow("universe 1, 512 channels") << quint16(1) << 512
        << QByteArray::fromHex("4172742d4e657400" "0050" "000e" "00" "00" "00" "00" "0200") << 512;
    QTest::newRow("universe 256, 2 channels") << quint16(256) << 2
        << QByteArray::fromHex("4172742d4e657400" "0050" "000e" "00" "00" "ff" "00" "0002") << 2;
    QTest::newRow("universe 257, 3 channels") << quint16(257) << 3
        << QByteArray::fromHex("4172742d4e657400" "0050" "000e" "00" "00" "00" "01" "0003") << 3;
    QTest::newRow("universe 65535, 1 channel short of full") << quint16(65535) << 511
        << QByteArray::fromHex("4172742d4e657400" "0050" "000e" "00" "00" "fe" "ff" "01ff") << 511;
    // The buffer holds one universe: more is never written past it.
    QTest::newRow("600 channels are cut to 512") << quint16(1) << 600
        << QByteArray::fromHex("4172742d4e657400" "0050" "000e" "00" "00" "00" "00" "0200") << 512;
}

void tst_artnetpackets::artDmx()
{
    QFETCH(quint16, universe);
    QFETCH(int, length);
    QFETCH(QByteArray, head);
    QFETCH(int, carried);

    const QByteArray data = ramp(length, 9);
    DirtyPacket packet;
    const int size = writeArtDmx(packet.bytes, quint16(universe - 1),
                                 reinterpret_cast<const uchar *>(data.constData()), quint16(length));
    QCOMPARE(size, 18 + carried);
    QCOMPARE(packet.written(size).toHex(' '), (head + data.left(carried)).toHex(' '));
    QVERIFY(packet.untouchedFrom(size));

    // The header alone leaves the data where it is.
    DirtyPacket headerOnly;
    QCOMPARE(writeArtDmxHeader(headerOnly.bytes, quint16(universe - 1), quint16(length)), size);
    QCOMPARE(headerOnly.written(18), head);
    QVERIFY(headerOnly.untouchedFrom(18));
}

void tst_artnetpackets::artPoll()
{
    DirtyPacket packet;
    // ID, OpCode 0x2000 low first, ProtVer 0 14, TalkToMe 0, Priority 0.
    QCOMPARE(writeArtPoll(packet.bytes), 14);
    QCOMPARE(packet.written(14).toHex(' '),
             QByteArray::fromHex("4172742d4e657400" "0020" "000e" "00" "00").toHex(' '));
    QVERIFY(packet.untouchedFrom(14));
}

void tst_artnetpackets::artTimeCode()
{
    const quint8 timeCode[5] = {12, 34, 56, 7, 2};
    // ID, OpCode 0x9700 low first, ProtVer 0 14, Filler1, Filler2, Frames, Seconds, Minutes,
    // Hours, Type, and the unused last byte.
    const QByteArray expected = QByteArray::fromHex(
        "4172742d4e657400" "0097" "000e" "00" "00" "0c" "22" "38" "07" "02" "00");
    DirtyPacket packet;
    QCOMPARE(writeArtTimeCode(packet.bytes, timeCode), 20);
    QCOMPARE(packet.written(20).toHex(' '), expected.toHex(' '));
    QVERIFY(packet.untouchedFrom(20));
}

void tst_artnetpackets::artPollReply_data()
{
    QTest::addColumn<uint>("firstPortAddress");
    QTest::addColumn<uint>("ports");
    QTest::addColumn<quint8>("bindIndex");
    QTest::addColumn<QByteArray>("ip");
    QTest::addColumn<QByteArray>("mac");
    QTest::addColumn<QByteArray>("shortName");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray art0 = QByteArray::fromHex("0200000a");
    const QByteArray art0Mac = QByteArray::fromHex("02000000000a");

    ExpectedReply plain;
    QTest::newRow("no ports") << 0u << 0u << quint8(0) << art0 << art0Mac << QByteArray("Vardolux")
        << replyBytes(plain);

    ExpectedReply other;
    other.ip = QByteArray::fromHex("c0a8010a");
    other.mac = QByteArray::fromHex("001122334400");
    QTest::newRow("IP and MAC of another interface") << 0u << 0u << quint8(0) << other.ip
        << other.mac << QByteArray("Vardolux") << replyBytes(other);

    ExpectedReply universe3;
    universe3.ports = 1;
    universe3.swOut = QByteArray::fromHex("02000000");
    QTest::newRow("universe 3") << 2u << 1u << quint8(0) << art0 << art0Mac
        << QByteArray("Vardolux") << replyBytes(universe3);

    ExpectedReply universe258; // port-address 0x101: Net 1, Sub-Net 0, Universe 1
    universe258.ports = 1;
    universe258.netSwitch = 1;
    universe258.swOut = QByteArray::fromHex("01000000");
    QTest::newRow("universe 258") << 0x101u << 1u << quint8(0) << art0 << art0Mac
        << QByteArray("Vardolux") << replyBytes(universe258);

    ExpectedReply universe20; // port-address 0x13: Sub-Net 1, Universe 3
    universe20.ports = 1;
    universe20.subSwitch = 1;
    universe20.swOut = QByteArray::fromHex("13000000");
    QTest::newRow("universe 20") << 0x13u << 1u << quint8(0) << art0 << art0Mac
        << QByteArray("Vardolux") << replyBytes(universe20);

    ExpectedReply universe292; // port-address 0x123: Net 1, Sub-Net 2, Universe 3
    universe292.ports = 1;
    universe292.netSwitch = 1;
    universe292.subSwitch = 2;
    universe292.swOut = QByteArray::fromHex("23000000");
    QTest::newRow("universe 292") << 0x123u << 1u << quint8(0) << art0 << art0Mac
        << QByteArray("Vardolux") << replyBytes(universe292);

    ExpectedReply highest; // port-address 0x7FFF
    highest.ports = 1;
    highest.netSwitch = 0x7F;
    highest.subSwitch = 0x0F;
    highest.swOut = QByteArray::fromHex("ff000000");
    QTest::newRow("universe 32768") << 0x7FFFu << 1u << quint8(0) << art0 << art0Mac
        << QByteArray("Vardolux") << replyBytes(highest);

    ExpectedReply secondPage; // universes 5 to 8 of a longer list, the page after the first
    secondPage.ports = 4;
    secondPage.swOut = QByteArray::fromHex("04050607");
    secondPage.bindIndex = 1;
    QTest::newRow("second page of four ports") << 4u << 4u << quint8(1) << art0 << art0Mac
        << QByteArray("Vardolux") << replyBytes(secondPage);

    ExpectedReply longName;
    longName.shortName = "ABCDEFGHIJKLMNOPQ";
    QTest::newRow("short name of 20 characters") << 0u << 0u << quint8(0) << art0 << art0Mac
        << QByteArray("ABCDEFGHIJKLMNOPQRST") << replyBytes(longName);
}

void tst_artnetpackets::artPollReply()
{
    QFETCH(uint, firstPortAddress);
    QFETCH(uint, ports);
    QFETCH(quint8, bindIndex);
    QFETCH(QByteArray, ip);
    QFETCH(QByteArray, mac);
    QFETCH(QByteArray, shortName);
    QFETCH(QByteArray, reply);

    // The identity the main window gives the engine.
    PollReplyNode node;
    node.ip = quint32(quint8(ip[0])) << 24 | quint32(quint8(ip[1])) << 16
            | quint32(quint8(ip[2])) << 8 | quint8(ip[3]);
    node.versionHi = 0;
    node.versionLo = 6;
    node.oemHi = 0x00;
    node.oemLo = 0xFF;
    node.shortName = shortName;
    node.longName = "Vardolux V0.6 by www.vardolux.example";
    std::memcpy(node.mac, mac.constData(), 6);
    DirtyPacket packet;
    QCOMPARE(writeArtPollReply(packet.bytes, node, firstPortAddress, ports, bindIndex), 240);
    QCOMPARE(packet.written(240).toHex(' '), reply.toHex(' '));
    QVERIFY(packet.untouchedFrom(240));
}

// ---------------------------------------------------------------------------------------------
// Readers

void tst_artnetpackets::artDmxFields_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<int>("lengthField");
    QTest::addColumn<int>("portAddress"); // -1: not read, the datagram is cut
    QTest::addColumn<int>("clampedLength");

    auto dmx = [](const char *head, int dataBytes) {
        return QByteArray::fromHex("4172742d4e657400" "0050" "000e") + QByteArray::fromHex(head)
                + ramp(dataBytes);
    };
    // Sequence, Physical, SubUni, Net, LengthHi, Length, then the data.
    QTest::newRow("cut inside the header") << dmx("0000", 0) << false << 0 << -1 << 0;
    QTest::newRow("cut before the low Length byte") << dmx("0000000002", 0) << false << 0 << -1 << 0;
    QTest::newRow("header alone, Length 0") << dmx("000000000000", 0) << true << 0 << 0 << 0;
    QTest::newRow("Length 2 with 2 values") << dmx("000001000002", 2) << true << 2 << 1 << 2;
    QTest::newRow("Length 3 with 2 values") << dmx("000001000003", 2) << false << 3 << 1 << 3;
    QTest::newRow("Length 2 with trailing bytes") << dmx("0000ff000002", 40) << true << 2 << 255 << 2;
    QTest::newRow("SubUni 0x80 is not signed") << dmx("000080000002", 2) << true << 2 << 0x80 << 2;
    QTest::newRow("Net 1 SubUni 0") << dmx("000000010002", 2) << true << 2 << 0x100 << 2;
    QTest::newRow("port-address 0xFFFF") << dmx("0000ffff0002", 2) << true << 2 << 0xFFFF << 2;
    QTest::newRow("Length 512 with 511 values") << dmx("000000000200", 511) << false << 512 << 0 << 512;
    QTest::newRow("Length 600 with its values, clamped") << dmx("000000000258", 600) << true << 600 << 0 << 512;
    QTest::newRow("Length 0xFFFF with 512 values") << dmx("00000000ffff", 512) << false << 0xFFFF << 0 << 512;
}

void tst_artnetpackets::artDmxFields()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, whole);
    QFETCH(int, lengthField);
    QFETCH(int, portAddress);
    QFETCH(int, clampedLength);

    // A copy of exactly the datagram's size, so that a read past its end leaves the allocation.
    std::unique_ptr<uchar[]> bytes(new uchar[size_t(datagram.size())]);
    std::memcpy(bytes.get(), datagram.constData(), size_t(datagram.size()));
    const qsizetype size = datagram.size();
    QCOMPARE(int(dmxLengthField(bytes.get(), size)), lengthField);
    QCOMPARE(isWholeArtDmx(bytes.get(), size), whole);
    QCOMPARE(isWholeArtDmx(size, quint16(lengthField)), whole);
    // The engine and the census pass over exactly the same datagrams.
    QCOMPARE(artnet::isWholeArtDmx(datagram), whole);
    QCOMPARE(TrafficCensus::isMalformedArtDmx(int(size), quint16(lengthField)), !whole);
    if (portAddress >= 0) {
        QCOMPARE(int(dmxPortAddress(bytes.get())), portAddress);
        QCOMPARE(int(dmxClampedLength(bytes.get())), clampedLength);
    }
    QCOMPARE(readOpCode(bytes.get(), size), quint16(0x5000));
}

void tst_artnetpackets::artTimeCodeFields_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("fields"); // Frames, Seconds, Minutes, Hours, Type

    QTest::newRow("whole packet") << 20 << QList<int>{9, 10, 11, 12, 1};
    QTest::newRow("without the unused last byte") << 19 << QList<int>{9, 10, 11, 12, 1};
    QTest::newRow("cut after Seconds") << 16 << QList<int>{9, 10, 0, 0, 0};
    QTest::newRow("cut before Frames") << 13 << QList<int>{0, 0, 0, 0, 0};
}

void tst_artnetpackets::artTimeCodeFields()
{
    QFETCH(int, size);
    QFETCH(QList<int>, fields);

    const QByteArray whole = QByteArray::fromHex(
        "4172742d4e657400" "0097" "000e" "00" "00" "09" "0a" "0b" "0c" "01" "00");
    std::unique_ptr<uchar[]> bytes(new uchar[size_t(size)]);
    std::memcpy(bytes.get(), whole.constData(), size_t(size));
    TimeCodeSource timeCode;
    timeCode.frames = timeCode.seconds = timeCode.minutes = timeCode.hours = timeCode.type = 0xEE;
    readArtTimeCode(bytes.get(), size, &timeCode);
    QCOMPARE(QList<int>({timeCode.frames, timeCode.seconds, timeCode.minutes, timeCode.hours,
                         timeCode.type}),
             fields);
}

void tst_artnetpackets::artPollReplyFields_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("bindIndex");
    QTest::addColumn<int>("status2");

    // Real nodes send 207 to 239 bytes: up to the MAC, or further to BindIndex and Status2.
    QTest::newRow("240 bytes") << 240 << 3 << 0x0E;
    QTest::newRow("213 bytes") << 213 << 3 << 0x0E;
    QTest::newRow("212 bytes: without Status2") << 212 << 3 << 0;
    QTest::newRow("207 bytes: up to the MAC") << 207 << 0 << 0;
}

void tst_artnetpackets::artPollReplyFields()
{
    QFETCH(int, size);
    QFETCH(int, bindIndex);
    QFETCH(int, status2);

    // A node at 10.1.2.3 with Net 1, Sub-Net 2 and two ports, port-addresses 0x123 and 0x124:
    // only the low nibble of a port's byte is its universe.
    ExpectedReply e;
    e.ip = QByteArray::fromHex("0a010203");
    e.netSwitch = 0x81;   // bit 7 is not part of Net
    e.subSwitch = 0xF2;   // nor are bits 7-4 part of the Sub-Net
    e.ports = 2;
    e.swOut = QByteArray::fromHex("23f40000");
    e.mac = QByteArray::fromHex("a1b2c3d4e5f6");
    e.bindIndex = 3;
    QByteArray reply = replyBytes(e);
    reply[14] = char(0x37);              // Port 0x1937, low byte first
    reply[23] = char(0xD2);              // Status1
    reply[24] = char(0x34);              // EstaMan 0x1234, low byte first
    reply[25] = char(0x12);
    reply.replace(108, 9, "#0001 [1]");  // NodeReport
    reply[200] = char(0x01);             // Style
    reply[212] = char(0x0E);             // Status2
    std::unique_ptr<uchar[]> bytes(new uchar[size_t(size)]);
    std::memcpy(bytes.get(), reply.constData(), size_t(size));

    NodeInfo node;
    node.sourceAddress = 0x0A010209;
    node.lastSeenMs = 77;
    readArtPollReply(bytes.get(), size, &node);
    QCOMPARE(node.packetAddress, 0x0A010203u);
    QCOMPARE(node.port, quint16(0x1937));
    QCOMPARE(node.firmware, quint16(0x0006));
    QCOMPARE(node.oem, quint16(0x00FF));
    QCOMPARE(node.esta, quint16(0x1234));
    QCOMPARE(node.status1, quint8(0xD2));
    QCOMPARE(node.shortName, QStringLiteral("Vardolux"));
    QCOMPARE(node.longName, QStringLiteral("Vardolux V0.6 by www.vardolux.example"));
    QCOMPARE(node.nodeReport, QStringLiteral("#0001 [1]"));
    QCOMPARE(node.numPorts, quint16(2));
    QCOMPARE(QList<int>(node.portTypes, node.portTypes + 4), QList<int>({0x85, 0x85, 0x85, 0x85}));
    QCOMPARE(QList<int>(node.goodOutput, node.goodOutput + 4), QList<int>({0x80, 0x80, 0x80, 0x80}));
    QCOMPARE(QList<int>(node.swOut, node.swOut + 4), QList<int>({0x123, 0x124, 0x120, 0x120}));
    QCOMPARE(QList<int>(node.swIn, node.swIn + 4), QList<int>({0x123, 0x124, 0x120, 0x120}));
    QCOMPARE(node.style, quint8(0x01));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(node.mac), 6), e.mac);
    QCOMPARE(int(node.bindIndex), bindIndex);
    QCOMPARE(int(readPollReplyBindIndex(bytes.get(), size)), bindIndex);
    QCOMPARE(int(node.status2), status2);
    // What the packet does not carry stays the caller's.
    QCOMPARE(node.sourceAddress, 0x0A010209u);
    QCOMPARE(node.lastSeenMs, qint64(77));
}

QTEST_APPLESS_MAIN(tst_artnetpackets)
#include "tst_artnetpackets.moc"
