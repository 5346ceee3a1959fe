// The sACN packets byte by byte, without a socket: what the reader takes from whole, cut and
// lying datagrams of every layer (written from the standard in TestPackets), and what the
// writer puts in a buffer, checked against a packet written out here by hand.
#include "sacnpackets.h"
#include "testpackets.h"

#include <QTest>

#include <cstring>

using namespace SacnPackets;

Q_DECLARE_METATYPE(SacnMessage::Kind)
Q_DECLARE_METATYPE(SacnMessage::Fault)

namespace {

constexpr quint32 Sender = 0x0A000005;
constexpr qint64 ArrivalNs = 123456789;

SacnMessage read(const QByteArray &datagram)
{
    SacnMessage message;
    readDatagram(reinterpret_cast<const uchar *>(datagram.constData()), datagram.size(), Sender,
                 ArrivalNs, &message);
    return message;
}

QByteArray with8(QByteArray packet, int offset, int value)
{
    packet[offset] = char(value);
    return packet;
}

QByteArray with16(QByteArray packet, int offset, int value)
{
    packet[offset] = char(value >> 8);
    packet[offset + 1] = char(value & 0xFF);
    return packet;
}

// Cut to size with every layer that begins before the cut saying it ends there, as a sender
// that writes its lengths right but its layers short would.
QByteArray cutTo(QByteArray packet, int size, std::initializer_list<int> layers)
{
    packet.truncate(size);
    for (int offset : layers) {
        if (offset + 2 <= size)
            packet = with16(packet, offset, 0x7000 | (size - offset));
    }
    return packet;
}

QByteArray dataPacket(int values = 4)
{
    TestPackets::SacnData data;
    data.values = QByteArray(values, '\x40');
    return TestPackets::sacnData(data);
}

QByteArray namedData(const QByteArray &name)
{
    TestPackets::SacnData data;
    data.sourceName = name;
    return TestPackets::sacnData(data);
}

const QByteArray SenderCid = QByteArray::fromHex("00112233445566778899aabbccddeeff");

} // namespace

class TestSacnPackets : public QObject
{
    Q_OBJECT

private slots:
    void everyLayerIsChecked_data();
    void everyLayerIsChecked();
    void dataPacketFields();
    void startCodes_data();
    void startCodes();
    void optionsAndPriority_data();
    void optionsAndPriority();
    void sourceNameIsSafeText_data();
    void sourceNameIsSafeText();
    void discoveryPages_data();
    void discoveryPages();
    void syncPacket();
    void sequenceRule_data();
    void sequenceRule();
    void writerMatchesHandWrittenPacket();
    void writerRoundTrip();
};

void TestSacnPackets::everyLayerIsChecked_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<SacnMessage::Kind>("kind");
    QTest::addColumn<SacnMessage::Fault>("fault");
    using K = SacnMessage::Kind;
    using F = SacnMessage::Fault;
    const QByteArray data = dataPacket();
    const QByteArray sync = TestPackets::sacnSync(SenderCid, 1, 7);
    const QByteArray discovery = TestPackets::sacnDiscovery(SenderCid, "d", 0, 0, {1, 2, 3});
    QTest::newRow("whole data packet") << data << K::Data << F::None;
    QTest::newRow("whole sync packet") << sync << K::Sync << F::None;
    QTest::newRow("whole discovery page") << discovery << K::Discovery << F::None;
    QTest::newRow("empty") << QByteArray() << K::Malformed << F::Root;
    QTest::newRow("cut inside root layer") << data.left(37) << K::Malformed << F::Root;
    QTest::newRow("cut, lengths unchanged") << data.left(data.size() - 1) << K::Malformed << F::Root;
    QTest::newRow("preamble 0x0011") << with16(data, 0, 0x11) << K::Malformed << F::Root;
    QTest::newRow("postamble 1") << with16(data, 2, 1) << K::Malformed << F::Root;
    QTest::newRow("identifier E1.18") << with8(data, 8, '8') << K::Malformed << F::Root;
    QTest::newRow("root flags 0x6") << with8(data, 16, 0x60) << K::Malformed << F::Root;
    QTest::newRow("root length one past") << with16(data, 16, 0x7000 | (data.size() - 15))
                                          << K::Malformed << F::Root;
    QTest::newRow("root vector 5") << with8(data, 21, 5) << K::Malformed << F::Root;
    QTest::newRow("Art-Net on the port") << TestPackets::artDmx(0, "ab") << K::Malformed << F::Root;
    QTest::newRow("framing flags 0") << with8(data, 38, 0x00) << K::Malformed << F::Framing;
    QTest::newRow("framing past root") << with16(data, 38, 0x7000 | (data.size() - 37))
                                       << K::Malformed << F::Framing;
    QTest::newRow("framing vector 3") << with8(data, 43, 3) << K::Malformed << F::Framing;
    QTest::newRow("cut inside framing") << cutTo(data, 100, {16, 38}) << K::Malformed << F::Framing;
    QTest::newRow("universe 0") << with16(data, 113, 0) << K::Malformed << F::Universe;
    QTest::newRow("universe 64000") << with16(data, 113, 64000) << K::Malformed << F::Universe;
    QTest::newRow("cut inside DMP header") << cutTo(data, 124, {16, 38, 115}) << K::Malformed << F::Dmp;
    QTest::newRow("DMP past framing") << with16(data, 115, 0x7000 | (data.size() - 114))
                                      << K::Malformed << F::Dmp;
    QTest::newRow("DMP vector 1") << with8(data, 117, 1) << K::Malformed << F::Dmp;
    QTest::newRow("address type 0xA2") << with8(data, 118, 0xA2) << K::Malformed << F::Dmp;
    QTest::newRow("first address 1") << with16(data, 119, 1) << K::Malformed << F::Dmp;
    QTest::newRow("increment 2") << with16(data, 121, 2) << K::Malformed << F::Dmp;
    QTest::newRow("property count 0") << with16(data, 123, 0) << K::Malformed << F::Dmp;
    QTest::newRow("property count 514") << with16(dataPacket(513), 123, 514) << K::Malformed << F::Dmp;
    QTest::newRow("property count past DMP") << with16(data, 123, 6) << K::Malformed << F::Dmp;
    QTest::newRow("513 slots") << dataPacket(512) << K::Data << F::None;
    QTest::newRow("extended vector 3") << with8(sync, 43, 3) << K::Malformed << F::Framing;
    QTest::newRow("sync cut at 48") << cutTo(sync, 48, {16, 38}) << K::Malformed << F::Framing;
    QTest::newRow("discovery cut in its layer") << cutTo(discovery, 116, {16, 38, 112})
                                                << K::Malformed << F::Framing;
    QTest::newRow("discovery vector 2") << with8(discovery, 117, 2) << K::Malformed << F::Framing;
}

void TestSacnPackets::everyLayerIsChecked()
{
    QFETCH(QByteArray, datagram);
    QFETCH(SacnMessage::Kind, kind);
    QFETCH(SacnMessage::Fault, fault);
    const SacnMessage message = read(datagram);
    QCOMPARE(message.kind, kind);
    QCOMPARE(message.fault, fault);
    QCOMPARE(message.frame.source.address, Sender);
    QCOMPARE(message.frame.source.protocol, DmxProtocol::Sacn);
    if (kind == SacnMessage::Kind::Malformed) {
        QVERIFY(message.frame.malformed);
        QVERIFY(!message.frame.levels);
        QCOMPARE(message.frame.count, quint16(0));
        QCOMPARE(message.slotCount, quint16(0));
        QCOMPARE(message.frame.universeKnown, fault == SacnMessage::Fault::Dmp);
    }
}

void TestSacnPackets::dataPacketFields()
{
    TestPackets::SacnData data;
    data.cid = SenderCid;
    data.priority = 150;
    data.syncAddress = 4000;
    data.sequence = 201;
    data.universe = 63999;
    data.values = "\x01\x02\x03";
    const QByteArray datagram = TestPackets::sacnData(data);
    const SacnMessage message = read(datagram);
    const DmxFrame &frame = message.frame;
    QCOMPARE(message.kind, SacnMessage::Kind::Data);
    QVERIFY(!frame.malformed && frame.universeKnown);
    QCOMPARE(frame.universe, (UniverseKey{DmxProtocol::Sacn, 63999}));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(frame.source.cid.data()), 16), SenderCid);
    QCOMPARE(frame.priority, quint8(150));
    QCOMPARE(frame.sequence, quint8(201));
    QCOMPARE(message.syncAddress, quint16(4000));
    QCOMPARE(frame.arrivalNs, ArrivalNs);
    QCOMPARE(frame.lengthField, quint16(3));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(frame.levels), frame.count), data.values);
    QCOMPARE(frame.levels, reinterpret_cast<const uchar *>(datagram.constData()) + 126);
}

void TestSacnPackets::startCodes_data()
{
    QTest::addColumn<int>("startCode");
    QTest::addColumn<int>("carried");
    QTest::addColumn<bool>("levels");
    QTest::newRow("0: 512 levels") << 0x00 << 512 << true;
    QTest::newRow("0: start code alone") << 0x00 << 0 << true;
    QTest::newRow("0xDD: per-address priority") << 0xDD << 512 << false;
    QTest::newRow("0x17: text") << 0x17 << 20 << false;
    QTest::newRow("0xCC: RDM") << 0xCC << 24 << false;
}

void TestSacnPackets::startCodes()
{
    QFETCH(int, startCode);
    QFETCH(int, carried);
    QFETCH(bool, levels);
    TestPackets::SacnData data;
    data.startCode = quint8(startCode);
    data.values = QByteArray(carried, '\x7F');
    const SacnMessage message = read(TestPackets::sacnData(data));
    QCOMPARE(message.kind, SacnMessage::Kind::Data);
    QCOMPARE(message.startCode, quint8(startCode));
    QCOMPARE(message.slotCount, quint16(carried));
    QCOMPARE(message.frame.count, quint16(levels ? carried : 0));
    QCOMPARE(message.frame.levels != nullptr, levels);
}

void TestSacnPackets::optionsAndPriority_data()
{
    QTest::addColumn<int>("options");
    QTest::addColumn<int>("priority");
    QTest::addColumn<bool>("preview");
    QTest::addColumn<bool>("terminated");
    QTest::addColumn<bool>("forceSync");
    QTest::addColumn<bool>("invalidPriority");
    QTest::newRow("none, priority 0") << 0x00 << 0 << false << false << false << false;
    QTest::newRow("preview, priority 200") << 0x80 << 200 << true << false << false << false;
    QTest::newRow("terminated, priority 201") << 0x40 << 201 << false << true << false << true;
    QTest::newRow("force sync, priority 255") << 0x20 << 255 << false << false << true << true;
    QTest::newRow("all three and reserved bits") << 0xFF << 100 << true << true << true << false;
    QTest::newRow("reserved bits only") << 0x1F << 100 << false << false << false << false;
}

void TestSacnPackets::optionsAndPriority()
{
    QFETCH(int, options);
    QFETCH(int, priority);
    TestPackets::SacnData data;
    data.options = quint8(options);
    data.priority = quint8(priority);
    const SacnMessage message = read(TestPackets::sacnData(data));
    QCOMPARE(message.kind, SacnMessage::Kind::Data);
    QTEST(message.preview(), "preview");
    QTEST(message.streamTerminated(), "terminated");
    QTEST(message.forceSync(), "forceSync");
    QTEST(message.invalidPriority, "invalidPriority");
    QCOMPARE(message.frame.priority, quint8(priority));
}

void TestSacnPackets::sourceNameIsSafeText_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << namedData("Desk 1") << QStringLiteral("Desk 1");
    QTest::newRow("markup stays text") << namedData("<b>Desk</b> &amp; <img src=x>")
                                       << QStringLiteral("<b>Desk</b> &amp; <img src=x>");
    QTest::newRow("UTF-8") << namedData("B\xC3\xBChne") << QString::fromUtf8("B\xC3\xBChne");
    QTest::newRow("invalid UTF-8") << namedData("\xFF\xC3(ok")
                                   << QString::fromUtf8("\xEF\xBF\xBD\xEF\xBF\xBD(ok");
    QTest::newRow("zero inside") << namedData(QByteArray("ab\0cd", 5)) << QStringLiteral("ab");
    QTest::newRow("64 bytes, no zero") << namedData(QByteArray(70, 'x')) << QString(64, 'x');
    QTest::newRow("cut inside a character at 64") << namedData(QByteArray(63, 'y') + "\xC3\xBC")
                                                  << QString(63, 'y') + QChar(0xFFFD);
    QTest::newRow("discovery page") << TestPackets::sacnDiscovery(SenderCid, "<i>Rig</i>", 0, 0, {})
                                    << QStringLiteral("<i>Rig</i>");
}

void TestSacnPackets::sourceNameIsSafeText()
{
    QFETCH(QByteArray, datagram);
    const SacnMessage message = read(datagram);
    QVERIFY(message.kind != SacnMessage::Kind::Malformed);
    QTEST(sourceNameText(message), "name");
    QVERIFY(message.sourceNameSize <= 64);
}

void TestSacnPackets::discoveryPages_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("lastPage");
    QTest::addColumn<QList<quint16>>("universes");
    QList<quint16> many;
    for (int i = 1; i <= 515; ++i)
        many.append(quint16(i));
    const QByteArray two = TestPackets::sacnDiscovery(SenderCid, "n", 1, 2, {7, 63999});
    QTest::newRow("page 1 of 0-2") << two << 1 << 2 << QList<quint16>{7, 63999};
    QTest::newRow("no universes") << TestPackets::sacnDiscovery(SenderCid, "n", 0, 0, {}) << 0 << 0
                                  << QList<quint16>{};
    QTest::newRow("odd byte at the end") << cutTo(two + "\x01", two.size() + 1, {16, 38, 112})
                                         << 1 << 2 << QList<quint16>{7, 63999};
    QTest::newRow("515 listed, 512 kept") << TestPackets::sacnDiscovery(SenderCid, "n", 0, 0, many) << 0
                                          << 0 << many.mid(0, 512);
}

void TestSacnPackets::discoveryPages()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QList<quint16>, universes);
    const SacnMessage message = read(datagram);
    QCOMPARE(message.kind, SacnMessage::Kind::Discovery);
    QTEST(int(message.page), "page");
    QTEST(int(message.lastPage), "lastPage");
    QList<quint16> listed;
    for (int i = 0; i < message.universeCount; ++i)
        listed.append(message.discoveryUniverse(i));
    QCOMPARE(listed, universes);
}

void TestSacnPackets::syncPacket()
{
    const SacnMessage message = read(TestPackets::sacnSync(SenderCid, 77, 1234));
    QCOMPARE(message.kind, SacnMessage::Kind::Sync);
    QCOMPARE(message.frame.sequence, quint8(77));
    QCOMPARE(message.syncAddress, quint16(1234));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(message.frame.source.cid.data()), 16), SenderCid);
    QVERIFY(!message.frame.levels);
}

void TestSacnPackets::sequenceRule_data()
{
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("received");
    QTest::addColumn<bool>("outOfOrder");
    QTest::newRow("next") << 10 << 11 << false;
    QTest::newRow("same again") << 10 << 10 << true;
    QTest::newRow("one behind") << 10 << 9 << true;
    QTest::newRow("19 behind") << 30 << 11 << true;
    QTest::newRow("20 behind: a restart") << 30 << 10 << false;
    QTest::newRow("wrap 255 to 0") << 255 << 0 << false;
    QTest::newRow("behind across the wrap") << 2 << 250 << true;
    QTest::newRow("127 ahead") << 0 << 127 << false;
    QTest::newRow("128 apart") << 0 << 128 << false;
}

void TestSacnPackets::sequenceRule()
{
    QFETCH(int, last);
    QFETCH(int, received);
    QTEST(isOutOfOrder(quint8(last), quint8(received)), "outOfOrder");
}

void TestSacnPackets::writerMatchesHandWrittenPacket()
{
    // Three levels to universe 258 from "Vardolux", priority 150, sync 5, sequence 7.
    const QByteArray expected = QByteArray::fromHex(
        "0010" "0000" "4153432d45312e3137000000" "7071" "00000004"
        "000102030405060708090a0b0c0d0e0f"
        "705b" "00000002"
        "566172646f6c7578" + QByteArray(56 * 2, '0') +
        "96" "0005" "07" "00" "0102"
        "700e" "02" "a1" "0000" "0001" "0004" "00" "0a14ff");
    DataHeader header;
    for (int i = 0; i < 16; ++i)
        header.cid[size_t(i)] = quint8(i);
    header.sourceName = "Vardolux";
    header.priority = 150;
    header.syncAddress = 5;
    header.sequence = 7;
    header.universe = 258;
    const uchar levels[] = {0x0A, 0x14, 0xFF};
    uchar packet[Dmp::MaxSize + 8];
    std::memset(packet, 0xEE, sizeof packet);
    const int size = writeDataPacket(packet, header, levels, 3);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(packet), size).toHex(), expected.toHex());
    QCOMPARE(packet[size], uchar(0xEE));
}

void TestSacnPackets::writerRoundTrip()
{
    DataHeader header;
    header.sourceName = QByteArray(80, 'n');
    header.universe = 9;
    header.options = SacnMessage::OptionPreview;
    QByteArray levels(600, '\x33');
    uchar packet[Dmp::MaxSize];
    int size = writeStreamTerminated(packet, header, reinterpret_cast<const uchar *>(levels.constData()),
                                     quint16(levels.size()));
    QCOMPARE(size, Dmp::MaxSize);
    SacnMessage message;
    readDatagram(packet, size, Sender, 0, &message);
    QCOMPARE(message.kind, SacnMessage::Kind::Data);
    QCOMPARE(message.options, quint8(SacnMessage::OptionPreview | SacnMessage::OptionStreamTerminated));
    QCOMPARE(message.frame.count, quint16(512));
    QCOMPARE(sourceNameText(message), QString(63, 'n'));
    size = writeDataPacket(packet, header, nullptr, 0);
    readDatagram(packet, size, Sender, 0, &message);
    QCOMPARE(message.kind, SacnMessage::Kind::Data);
    QCOMPARE(message.options, quint8(SacnMessage::OptionPreview));
    QCOMPARE(message.slotCount, quint16(0));
}

QTEST_GUILESS_MAIN(TestSacnPackets)
#include "tst_sacnpackets.moc"
