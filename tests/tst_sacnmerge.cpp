// The merge of an sACN universe's sources, fed packets written from the standard and read by
// the product's reader: which source wins each slot by priority, per-address priority and
// level, and when a source stops counting.
#include "sacnmerge.h"
#include "sacnpackets.h"
#include "testpackets.h"

#include <QTest>

#include <algorithm>

namespace {

constexpr qint64 NsPerMs = 1'000'000;

// One packet of a row: from source `source` (its CID's every byte), at `atMs`.
struct Packet
{
    int source = 1;
    qint64 atMs = 0;
    quint8 priority = 100;
    QByteArray values;
    quint8 sequence = 0;
    quint8 options = 0;
    quint8 startCode = 0;
    quint16 universe = 1;
};

Packet levels(int source, qint64 atMs, quint8 priority, const QByteArray &values, quint8 sequence = 0)
{
    return Packet{source, atMs, priority, values, sequence};
}

Packet withOptions(Packet packet, quint8 options)
{
    packet.options = options;
    return packet;
}

Packet perAddress(int source, qint64 atMs, const QByteArray &priorities, quint8 sequence = 0)
{
    Packet packet{source, atMs, 100, priorities, sequence};
    packet.startCode = 0xDD;
    return packet;
}

SacnMerge::Outcome feed(SacnMerge &merge, const Packet &packet)
{
    TestPackets::SacnData data;
    data.cid = QByteArray(16, char(packet.source));
    data.priority = packet.priority;
    data.sequence = packet.sequence;
    data.options = packet.options;
    data.startCode = packet.startCode;
    data.universe = packet.universe;
    data.values = packet.values;
    const QByteArray datagram = TestPackets::sacnData(data);
    SacnMessage message;
    SacnPackets::readDatagram(reinterpret_cast<const uchar *>(datagram.constData()), datagram.size(),
                              0x0A000000u + quint32(packet.source), packet.atMs * NsPerMs, &message);
    return merge.take(message);
}

} // namespace

Q_DECLARE_METATYPE(QList<Packet>)
Q_DECLARE_METATYPE(SacnMerge::Outcome)

class TestSacnMerge : public QObject
{
    Q_OBJECT

private slots:
    void merge_data();
    void merge();
    void winners_data();
    void winners();
    void outcomes_data();
    void outcomes();
    void sourcesAreBounded();
};

void TestSacnMerge::merge_data()
{
    QTest::addColumn<QList<Packet>>("packets");
    QTest::addColumn<qint64>("nowMs");
    QTest::addColumn<QByteArray>("merged");
    const QByteArray b = "\xC8\xC8";
    QTest::newRow("one source") << QList<Packet>{levels(1, 0, 100, "\x01\x02")} << 10ll
                                << QByteArray("\x01\x02");
    QTest::newRow("150 beats 100 whatever the levels")
        << QList<Packet>{levels(1, 0, 100, "\xFF\xFF"), levels(2, 0, 150, QByteArray("\x0A\x00", 2))}
        << 10ll << QByteArray("\x0A\x00", 2);
    QTest::newRow("equal priority: highest level")
        << QList<Packet>{levels(1, 0, 100, "\x0A\xC8"), levels(2, 0, 100, "\x32\x14")} << 10ll
        << QByteArray("\x32\xC8");
    QTest::newRow("priority 0 still drives") << QList<Packet>{levels(1, 0, 0, "\x07")} << 10ll
                                             << QByteArray("\x07");
    QTest::newRow("fewer slots drive only theirs")
        << QList<Packet>{levels(1, 0, 150, "\x01"), levels(2, 0, 100, "\x05\x06")} << 10ll
        << QByteArray("\x01\x06");
    QTest::newRow("per-address priority per slot")
        << QList<Packet>{levels(1, 0, 100, "\x0A\x0A\x0A"), perAddress(1, 0, QByteArray("\x32\x96\x00", 3), 1),
                         levels(2, 0, 120, "\x14\x14\x14")}
        << 10ll << QByteArray("\x14\x0A\x14");
    QTest::newRow("per-address 0: not this source")
        << QList<Packet>{levels(1, 0, 100, "\x09\x09"), perAddress(1, 0, QByteArray("\x64\x00", 2), 1)}
        << 10ll << QByteArray("\x09");
    QTest::newRow("per-address lapses after 2.5 s")
        << QList<Packet>{levels(1, 0, 100, b), perAddress(1, 0, b, 1), levels(2, 0, 150, "\x01\x01"),
                         levels(1, 2600, 100, b, 2), levels(2, 2600, 150, "\x01\x01", 1)}
        << 2600ll << QByteArray("\x01\x01");
    QTest::newRow("preview passed over")
        << QList<Packet>{levels(1, 0, 100, "\x05"), withOptions(levels(2, 0, 200, "\x63"), 0x80)}
        << 10ll << QByteArray("\x05");
    QTest::newRow("terminated: gone at once")
        << QList<Packet>{levels(1, 0, 150, "\x63"), levels(2, 0, 100, "\x05"),
                         withOptions(levels(1, 5, 150, "\x63", 1), 0x40)}
        << 10ll << QByteArray("\x05");
    QTest::newRow("terminated repeats change nothing")
        << QList<Packet>{levels(1, 0, 150, "\x63"), withOptions(levels(1, 5, 150, "\x63", 1), 0x40),
                         withOptions(levels(1, 6, 150, "\x63", 2), 0x40), levels(2, 7, 100, "\x05")}
        << 10ll << QByteArray("\x05");
    const QList<Packet> oneStops{levels(1, 0, 150, "\x63"), levels(2, 0, 100, "\x05"),
                                 levels(2, 2000, 100, "\x05", 1)};
    QTest::newRow("live until 2.5 s") << oneStops << 2499ll << QByteArray("\x63");
    QTest::newRow("lost at 2.5 s") << oneStops << 2500ll << QByteArray("\x05");
    QTest::newRow("all lost") << oneStops << 4500ll << QByteArray();
    QTest::newRow("out of order discarded")
        << QList<Packet>{levels(1, 0, 100, "\x01", 10), levels(1, 1, 100, "\x63", 5)} << 10ll
        << QByteArray("\x01");
    QTest::newRow("same sequence discarded")
        << QList<Packet>{levels(1, 0, 100, "\x01", 10), levels(1, 1, 100, "\x63", 10)} << 10ll
        << QByteArray("\x01");
    QTest::newRow("sequence wraps 255 to 0")
        << QList<Packet>{levels(1, 0, 100, "\x01", 255), levels(1, 1, 100, "\x02", 0)} << 10ll
        << QByteArray("\x02");
    QTest::newRow("20 behind taken as a restart")
        << QList<Packet>{levels(1, 0, 100, "\x01", 30), levels(1, 1, 100, "\x02", 10)} << 10ll
        << QByteArray("\x02");
    QTest::newRow("back after loss: sequence starts over")
        << QList<Packet>{levels(1, 0, 100, "\x01", 50), levels(1, 3000, 100, "\x02", 40)} << 3000ll
        << QByteArray("\x02");
    QTest::newRow("priority 201 passed over")
        << QList<Packet>{levels(1, 0, 100, "\x01"), levels(2, 0, 201, "\x63")} << 10ll
        << QByteArray("\x01");
    Packet text = levels(2, 0, 200, "\x63");
    text.startCode = 0x17;
    Packet otherUniverse = levels(3, 0, 200, "\x63");
    otherUniverse.universe = 2;
    QTest::newRow("other start code and universe passed over")
        << QList<Packet>{levels(1, 0, 100, "\x01"), text, otherUniverse} << 10ll << QByteArray("\x01");
}

void TestSacnMerge::merge()
{
    QFETCH(QList<Packet>, packets);
    QFETCH(qint64, nowMs);
    QFETCH(QByteArray, merged);
    SacnMerge sacnMerge(1);
    for (const Packet &packet : packets)
        feed(sacnMerge, packet);
    uchar output[DmxFrame::MaxChannels];
    const int driven = sacnMerge.merge(nowMs * NsPerMs, output);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(output), driven), merged);
    QVERIFY(std::all_of(output + driven, output + DmxFrame::MaxChannels, [](uchar level) { return level == 0; }));
}

void TestSacnMerge::winners_data()
{
    QTest::addColumn<QList<Packet>>("packets");
    QTest::addColumn<QByteArray>("winners"); // the source (in order of arrival) of each slot
    QTest::newRow("one source") << QList<Packet>{levels(1, 0, 100, "\x01\x02")}
                                << QByteArray("\x00\x00", 2);
    QTest::newRow("150 wins whatever the levels")
        << QList<Packet>{levels(1, 0, 100, "\xFF\xFF"), levels(2, 0, 150, QByteArray("\x0A\x00", 2))}
        << QByteArray("\x01\x01");
    QTest::newRow("equal priority: the higher level, the first of equals")
        << QList<Packet>{levels(1, 0, 100, "\x0A\xC8\x05"), levels(2, 0, 100, "\x32\x14\x05")}
        << QByteArray("\x01\x00\x00", 3);
    QTest::newRow("per-address 0 leaves the slot to the other")
        << QList<Packet>{levels(1, 0, 100, "\x09\x09"), perAddress(1, 0, QByteArray("\x64\x00", 2), 1),
                         levels(2, 0, 50, "\x01\x01")}
        << QByteArray("\x00\x01", 2);
}

void TestSacnMerge::winners()
{
    QFETCH(QList<Packet>, packets);
    QFETCH(QByteArray, winners);
    SacnMerge sacnMerge(1);
    for (const Packet &packet : packets)
        feed(sacnMerge, packet);
    uchar output[DmxFrame::MaxChannels];
    qint8 winner[DmxFrame::MaxChannels];
    const int driven = sacnMerge.merge(10 * NsPerMs, output, winner);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(winner), driven), winners);
    QCOMPARE(winner[driven], qint8(-1));
}

void TestSacnMerge::outcomes_data()
{
    QTest::addColumn<bool>("acceptPreview");
    QTest::addColumn<Packet>("packet");
    QTest::addColumn<SacnMerge::Outcome>("outcome");
    QTest::addColumn<int>("driven");
    using O = SacnMerge::Outcome;
    const Packet one = levels(1, 0, 100, "\x01");
    QTest::newRow("levels") << false << one << O::Taken << 1;
    QTest::newRow("preview, not asked for") << false << withOptions(one, 0x80) << O::Preview << 0;
    QTest::newRow("preview, asked for") << true << withOptions(one, 0x80) << O::Taken << 1;
    QTest::newRow("terminated, unknown source") << false << withOptions(one, 0x40)
                                                << O::Terminated << 0;
    QTest::newRow("priority 255") << false << levels(1, 0, 255, "\x01") << O::InvalidPriority << 0;
    QTest::newRow("per-address priority alone") << false << perAddress(1, 0, "\x01") << O::Taken
                                                << 0;
}

void TestSacnMerge::outcomes()
{
    QFETCH(bool, acceptPreview);
    QFETCH(Packet, packet);
    SacnMerge merge(1);
    merge.setAcceptPreview(acceptPreview);
    QTEST(feed(merge, packet), "outcome");
    uchar output[DmxFrame::MaxChannels];
    QTEST(merge.merge(0, output), "driven");
}

void TestSacnMerge::sourcesAreBounded()
{
    SacnMerge merge(1);
    for (int source = 1; source <= SacnMerge::MaxSources; ++source)
        QCOMPARE(feed(merge, levels(source, 0, 100, "\x01")), SacnMerge::Outcome::Taken);
    QCOMPARE(feed(merge, levels(200, 100, 200, "\xFF")), SacnMerge::Outcome::TooManySources);
    QCOMPARE(merge.liveSources(100 * NsPerMs), SacnMerge::MaxSources);
    // Once the others are lost, a newcomer finds room.
    QCOMPARE(feed(merge, levels(200, 2600, 200, "\xFF")), SacnMerge::Outcome::Taken);
    QCOMPARE(merge.liveSources(2600 * NsPerMs), 1);
}

QTEST_GUILESS_MAIN(TestSacnMerge)
#include "tst_sacnmerge.moc"
