// The live sACN sources and what their packets say, fed decoded packets at chosen times.
#include "sacnpackets.h"
#include "sacnsourcetable.h"
#include "testpackets.h"

#include <QTest>

namespace {

using TestPackets::SacnData;

struct Timed
{
    SacnData packet;
    qint64 atMs = 0;
};

SacnData data(quint16 universe = 1, quint8 cidByte = 0x5C)
{
    SacnData packet;
    packet.universe = universe;
    packet.cid = QByteArray(16, char(cidByte));
    packet.values = QByteArray(3, '\x10');
    return packet;
}

SacnData with(SacnData packet, void (*change)(SacnData &))
{
    change(packet);
    return packet;
}

void record(SacnSourceTable &table, const SacnData &packet, qint64 atMs)
{
    const QByteArray datagram = TestPackets::sacnData(packet);
    SacnMessage message;
    SacnPackets::readDatagram(reinterpret_cast<const uchar *>(datagram.constData()),
                              datagram.size(), 0x02000014, atMs * 1'000'000, &message);
    QVERIFY(message.kind == SacnMessage::Kind::Data);
    table.record(message, atMs);
}

} // namespace

Q_DECLARE_METATYPE(QList<Timed>)

class tst_sacnsourcetable : public QObject
{
    Q_OBJECT

private slots:
    void liveSources_data();
    void liveSources();
    void fullTableCountsAndMakesRoomForNewSources();
};

void tst_sacnsourcetable::liveSources_data()
{
    QTest::addColumn<QList<Timed>>("packets");
    QTest::addColumn<qint64>("askedMs");
    QTest::addColumn<int>("live");
    // Of the first live source:
    QTest::addColumn<int>("priority");
    QTest::addColumn<int>("invalidPriorityPackets");
    QTest::addColumn<bool>("perAddressPriority");
    QTest::addColumn<int>("syncAddress");
    QTest::addColumn<bool>("preview");

    const SacnData plain = data();
    const SacnData terminated = with(plain, [](SacnData &p) { p.options = 0x40; });
    const SacnData perAddress = with(plain, [](SacnData &p) { p.startCode = 0xDD; });
    QTest::newRow("asked 2.4 s after its packet: live")
            << QList<Timed>{{plain, 1000}} << qint64(3400) << 1 << 100 << 0 << false << 0 << false;
    QTest::newRow("asked 2.5 s after its packet: lost")
            << QList<Timed>{{plain, 1000}} << qint64(3500) << 0 << 0 << 0 << false << 0 << false;
    QTest::newRow("stream terminated: lost at once")
            << QList<Timed>{{plain, 1000}, {terminated, 1010}} << qint64(1010) << 0 << 0 << 0
            << false << 0 << false;
    QTest::newRow("after a stream terminated and lost, sending again: live")
            << QList<Timed>{{terminated, 1000}, {plain, 4000}} << qint64(4000) << 1 << 100 << 0
            << false << 0 << false;
    QTest::newRow("priority 201: kept as sent, counted invalid")
            << QList<Timed>{{with(plain, [](SacnData &p) { p.priority = 201; }), 0}, {plain, 10}}
            << qint64(20) << 1 << 100 << 1 << false << 0 << false;
    QTest::newRow("priority 200 is valid")
            << QList<Timed>{{with(plain, [](SacnData &p) { p.priority = 200; }), 0}} << qint64(0)
            << 1 << 200 << 0 << false << 0 << false;
    QTest::newRow("start code 0xDD: per-address priority")
            << QList<Timed>{{plain, 0}, {perAddress, 100}} << qint64(2000) << 1 << 100 << 0
            << true << 0 << false;
    QTest::newRow("last 0xDD 2.5 s ago: per-address priority no longer")
            << QList<Timed>{{perAddress, 0}, {plain, 2000}} << qint64(2500) << 1 << 100 << 0
            << false << 0 << false;
    QTest::newRow("sync address and preview of the last packet")
            << QList<Timed>{{plain, 0},
                            {with(plain, [](SacnData &p) { p.syncAddress = 4000; p.options = 0x80; }), 5}}
            << qint64(5) << 1 << 100 << 0 << false << 4000 << true;
    QTest::newRow("one CID on two universes: two sources")
            << QList<Timed>{{plain, 0}, {data(2), 0}} << qint64(0) << 2 << 100 << 0 << false << 0
            << false;
    QTest::newRow("two CIDs on one universe: two sources")
            << QList<Timed>{{plain, 0}, {data(1, 0x77), 0}} << qint64(0) << 2 << 100 << 0 << false
            << 0 << false;
}

void tst_sacnsourcetable::liveSources()
{
    QFETCH(QList<Timed>, packets);
    QFETCH(qint64, askedMs);
    QFETCH(int, live);

    SacnSourceTable table;
    for (const Timed &timed : std::as_const(packets))
        record(table, timed.packet, timed.atMs);
    const QList<SacnSourceInfo> sources = table.sources(askedMs);
    QCOMPARE(sources.size(), live);
    if (live == 0)
        return;
    const SacnSourceInfo &first = sources.first();
    QTEST(int(first.priority), "priority");
    QTEST(int(first.invalidPriorityPackets), "invalidPriorityPackets");
    QTEST(first.perAddressPriority, "perAddressPriority");
    QTEST(int(first.syncAddress), "syncAddress");
    QTEST(first.preview, "preview");
    QCOMPARE(first.name, QStringLiteral("Test Console"));
    QCOMPARE(first.address, quint32(0x02000014));
    // The table forgets only lost sources.
    table.forgetLost(askedMs);
    QCOMPARE(table.sources(askedMs).size(), live);
    QCOMPARE(table.storedCount(), live);
}

void tst_sacnsourcetable::fullTableCountsAndMakesRoomForNewSources()
{
    SacnSourceTable table;
    SacnData packet = data();
    const auto send = [&](int source, qint64 atMs) {
        packet.cid = QByteArray(12, '\0') + QByteArray::number(source + 1000);
        record(table, packet, atMs);
    };
    for (int source = 0; source < SacnSourceTable::MaxSources + 10; ++source)
        send(source, 0);
    QCOMPARE(table.storedCount(), SacnSourceTable::MaxSources);
    QCOMPARE(table.unstoredPackets(), quint64(10));
    // A stored source is still found in a full table.
    send(7, 1000);
    QCOMPARE(table.unstoredPackets(), quint64(10));
    // Once the first ones are lost, a newcomer takes the room they leave.
    send(SacnSourceTable::MaxSources + 20, 3000);
    QCOMPARE(table.unstoredPackets(), quint64(10));
    QCOMPARE(table.storedCount(), 2);
    QCOMPARE(table.sources(3000).size(), 2);
}

QTEST_GUILESS_MAIN(tst_sacnsourcetable)
#include "tst_sacnsourcetable.moc"
