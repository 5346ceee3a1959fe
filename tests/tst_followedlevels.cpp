// The levels kept for the universes a reader follows: which frames are taken, and how sACN
// sources of one universe are merged.
#include "followedlevels.h"

#include <QTest>

namespace {

constexpr qint64 Second = 1'000'000'000;

struct Sent
{
    int source; // Art-Net: its address; sACN: the first byte of its CID
    int priority;
    int level;  // of channel 1
    qint64 atNs;
};

DmxFrame frame(DmxProtocol protocol, quint16 universe, const Sent &sent, const uchar *levels)
{
    DmxFrame frame;
    frame.universe = UniverseKey{protocol, universe};
    frame.universeKnown = true;
    frame.source.protocol = protocol;
    frame.source.address = quint32(sent.source);
    frame.source.cid[0] = quint8(sent.source);
    frame.priority = quint8(sent.priority);
    frame.levels = levels;
    frame.count = 2;
    frame.arrivalNs = sent.atNs;
    return frame;
}

} // namespace

Q_DECLARE_METATYPE(Sent)

class tst_FollowedLevels : public QObject
{
    Q_OBJECT

private slots:
    void levels_data();
    void levels();
};

void tst_FollowedLevels::levels_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QList<Sent>>("sent"); // universe 7, read at 10 s
    QTest::addColumn<int>("level");        // -1: none
    const int artNet = int(DmxProtocol::ArtNet), sacn = int(DmxProtocol::Sacn);
    const qint64 at = 10 * Second;
    QTest::newRow("Art-Net: the latest packet, whatever its source")
            << artNet << QList<Sent>{{1, 0, 200, at - 2}, {2, 0, 30, at - 1}} << 30;
    QTest::newRow("Art-Net: kept however old") << artNet << QList<Sent>{{1, 0, 9, 0}} << 9;
    QTest::newRow("sACN: the higher priority although lower")
            << sacn << QList<Sent>{{1, 150, 20, at - 2}, {2, 100, 250, at - 1}} << 20;
    QTest::newRow("sACN: the highest level among equals")
            << sacn << QList<Sent>{{1, 100, 20, at - 2}, {2, 100, 250, at - 1}} << 250;
    QTest::newRow("sACN: a silent source no longer counts")
            << sacn << QList<Sent>{{1, 150, 20, at - 3 * Second}, {2, 100, 250, at - 1}} << 250;
    QTest::newRow("sACN: all silent, none") << sacn << QList<Sent>{{1, 100, 20, 0}} << -1;
    QTest::newRow("sACN: a fifth source of no higher priority is passed over")
            << sacn
            << QList<Sent>{{1, 100, 1, at - 5}, {2, 100, 2, at - 4}, {3, 100, 3, at - 3},
                           {4, 100, 4, at - 2}, {5, 100, 99, at - 1}}
            << 4;
    QTest::newRow("sACN: a fifth source of higher priority takes a place")
            << sacn
            << QList<Sent>{{1, 100, 1, at - 5}, {2, 100, 2, at - 4}, {3, 100, 3, at - 3},
                           {4, 100, 4, at - 2}, {5, 120, 99, at - 1}}
            << 99;
}

void tst_FollowedLevels::levels()
{
    QFETCH(int, protocol);
    QFETCH(QList<Sent>, sent);
    QFETCH(int, level);
    FollowedLevels followed;
    const UniverseKey universe{DmxProtocol(protocol), 7};
    followed.follow({universe});
    QVERIFY(followed.following(universe));
    QVERIFY(!followed.following(UniverseKey{DmxProtocol(protocol), 8}));
    for (const Sent &packet : sent) {
        const uchar levels[2] = {uchar(packet.level), 0};
        followed.take(frame(DmxProtocol(protocol), 7, packet, levels));
        // Other universes and malformed frames are not taken.
        const uchar other[2] = {77, 77};
        followed.take(frame(DmxProtocol(protocol), 8, packet, other));
        DmxFrame malformed = frame(DmxProtocol(protocol), 7, packet, other);
        malformed.malformed = true;
        followed.take(malformed);
    }
    uchar levels[512];
    quint16 length = sizeof levels;
    QCOMPARE(followed.read(universe, 10 * Second, levels, &length), level >= 0);
    if (level >= 0) {
        QCOMPARE(length, quint16(2));
        QCOMPARE(int(levels[0]), level);
    }
    // A universe no longer followed gives nothing, nor does it when followed again.
    followed.follow({});
    length = sizeof levels;
    QVERIFY(!followed.read(universe, 10 * Second, levels, &length));
    followed.follow({universe});
    QVERIFY(!followed.read(universe, 10 * Second, levels, &length));
}

QTEST_APPLESS_MAIN(tst_FollowedLevels)
#include "tst_followedlevels.moc"
