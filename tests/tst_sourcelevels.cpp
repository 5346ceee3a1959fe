// Each source's own levels of one universe and the merges a node makes of them: HTP, LTP,
// shorter frames, the merge timeout beside liveness, the third source a node ignores, the
// bound on sources and the per-source trace of one channel.
#include "sourcelevels.h"

#include <QTest>

namespace {

constexpr qint64 NsPerMs = 1'000'000;
constexpr qint64 LiveNs = 4000 * NsPerMs;
constexpr qint64 MergeNs = 10000 * NsPerMs;

struct Frame
{
    int source = 1; // its address 10.0.0.source
    qint64 atMs = 0;
    QByteArray levels;
};

SourceIdentity sourceNamed(int source)
{
    return SourceIdentity::artNet(0x0A000000u + quint32(source), 0);
}

void feed(SourceLevels &levels, const QList<Frame> &frames)
{
    for (const Frame &frame : frames) {
        DmxFrame dmx;
        dmx.source = sourceNamed(frame.source);
        dmx.levels = reinterpret_cast<const uchar *>(frame.levels.constData());
        dmx.count = quint16(frame.levels.size());
        dmx.arrivalNs = frame.atMs * NsPerMs;
        levels.take(dmx);
    }
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (const int value : values)
        result.append(char(value));
    return result;
}

} // namespace

Q_DECLARE_METATYPE(QList<Frame>)
Q_DECLARE_METATYPE(LevelChoice::Kind)

class tst_SourceLevels : public QObject
{
    Q_OBJECT

private slots:
    void choices_data();
    void choices();
    void liveAndInMerge_data();
    void liveAndInMerge();
    void nodeDropsTheThird_data();
    void nodeDropsTheThird();
    void sourcesAreBounded();
    void tracesOneChannelPerSource();
};

void tst_SourceLevels::choices_data()
{
    QTest::addColumn<QList<Frame>>("frames");
    QTest::addColumn<LevelChoice::Kind>("kind");
    QTest::addColumn<int>("chosenSource");
    QTest::addColumn<qint64>("nowMs");
    QTest::addColumn<QByteArray>("levels");
    QTest::addColumn<QByteArray>("winners"); // index per channel, -1 none; empty: not a merge
    using K = LevelChoice::Kind;
    const QList<Frame> twoConsoles{{1, 0, bytes({10, 200})}, {2, 0, bytes({50, 20})}};
    QTest::newRow("HTP: the highest of each channel")
        << twoConsoles << K::MergedHtp << 0 << 10ll << bytes({50, 200}) << bytes({1, 0});
    QTest::newRow("HTP: a shorter frame takes no part beyond its length")
        << QList<Frame>{{1, 0, bytes({5})}, {2, 0, bytes({1, 6})}} << K::MergedHtp << 0 << 10ll
        << bytes({5, 6}) << bytes({0, 1});
    const QList<Frame> oneFallsSilent{{1, 0, bytes({99})}, {2, 0, bytes({5})}, {2, 9000, bytes({5})}};
    QTest::newRow("HTP: not live after 4 s, still merged until 10 s")
        << oneFallsSilent << K::MergedHtp << 0 << 9999ll << bytes({99}) << bytes({0});
    QTest::newRow("HTP: out of the merge at 10 s")
        << oneFallsSilent << K::MergedHtp << 0 << 10000ll << bytes({5}) << bytes({1});
    QTest::newRow("HTP: nobody in the merge")
        << oneFallsSilent << K::MergedHtp << 0 << 19000ll << QByteArray() << QByteArray();
    QTest::newRow("HTP: the highest goes down, the other takes the channel")
        << QList<Frame>{{1, 0, bytes({90, 1})}, {2, 5, bytes({50, 1})}, {1, 10, bytes({20, 1})}}
        << K::MergedHtp << 0 << 20ll << bytes({50, 1}) << bytes({1, 0});
    QTest::newRow("HTP: a shorter frame gives up its channels")
        << QList<Frame>{{1, 0, bytes({9, 90})}, {2, 5, bytes({5, 50})}, {1, 10, bytes({9})}}
        << K::MergedHtp << 0 << 20ll << bytes({9, 50}) << bytes({0, 1});
    QTest::newRow("HTP: back in the merge with the levels it had")
        << QList<Frame>{{1, 0, bytes({90})}, {2, 5, bytes({50})}, {2, 9000, bytes({50})},
                        {1, 12000, bytes({90})}}
        << K::MergedHtp << 0 << 12000ll << bytes({90}) << bytes({0});
    QTest::newRow("LTP: the last change of each channel")
        << QList<Frame>{{1, 0, bytes({10, 10})}, {2, 100, bytes({20, 20})}, {1, 200, bytes({11, 10})}}
        << K::MergedLtp << 0 << 300ll << bytes({11, 20}) << bytes({0, 1});
    QTest::newRow("LTP: resending the same level does not take a channel back")
        << QList<Frame>{{1, 0, bytes({10})}, {2, 100, bytes({20})}, {1, 200, bytes({10})},
                        {1, 300, bytes({10})}}
        << K::MergedLtp << 0 << 400ll << bytes({20}) << bytes({1});
    QTest::newRow("LTP: a change deep in a full frame")
        << QList<Frame>{{1, 0, QByteArray(512, 20)}, {2, 100, QByteArray(512, 20)},
                        {1, 200, QByteArray(511, 20) + char(11)}}
        << K::MergedLtp << 0 << 300ll << QByteArray(511, 20) + char(11)
        << QByteArray(511, 1) + char(0);
    QTest::newRow("LTP: channels a longer frame adds count as changed")
        << QList<Frame>{{1, 0, bytes({10})}, {2, 100, bytes({20})}, {1, 200, bytes({10, 7})}}
        << K::MergedLtp << 0 << 300ll << bytes({20, 7}) << bytes({1, 0});
    QTest::newRow("LTP: the last changer leaves the merge, the other takes over")
        << QList<Frame>{{1, 0, bytes({10})}, {2, 100, bytes({20})}, {1, 5000, bytes({10})}}
        << K::MergedLtp << 0 << 10100ll << bytes({10}) << bytes({0});
    QTest::newRow("one source: its own frame")
        << twoConsoles << K::Source << 2 << 10ll << bytes({50, 20}) << QByteArray();
    QTest::newRow("a source that never sent: no levels")
        << twoConsoles << K::Source << 3 << 10ll << QByteArray() << QByteArray();
    QTest::newRow("latest packet: whichever came last")
        << QList<Frame>{{2, 0, bytes({50, 20})}, {1, 5, bytes({10})}} << K::LatestPacket << 0
        << 10ll << bytes({10}) << QByteArray();
}

void tst_SourceLevels::choices()
{
    QFETCH(QList<Frame>, frames);
    QFETCH(LevelChoice::Kind, kind);
    QFETCH(int, chosenSource);
    QFETCH(qint64, nowMs);
    QFETCH(QByteArray, levels);
    QFETCH(QByteArray, winners);
    SourceLevels sources(LiveNs, MergeNs);
    feed(sources, frames);
    LevelChoice choice = LevelChoice::of(kind);
    if (kind == LevelChoice::Kind::Source)
        choice = LevelChoice::ofSource(sourceNamed(chosenSource));
    uchar chosen[DmxFrame::MaxChannels];
    const int count = sources.choose(choice, nowMs * NsPerMs, chosen);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(chosen), count), levels);
    if (kind != LevelChoice::Kind::MergedHtp && kind != LevelChoice::Kind::MergedLtp)
        return;
    // The merge made whole gives what was kept frame by frame.
    qint8 winner[DmxFrame::MaxChannels];
    uchar whole[DmxFrame::MaxChannels];
    const int wholeCount = kind == LevelChoice::Kind::MergedHtp
            ? sources.mergeHtp(nowMs * NsPerMs, whole, winner)
            : sources.mergeLtp(nowMs * NsPerMs, whole, winner);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(whole), wholeCount), levels);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(winner), winners.size()), winners);
    if (count < DmxFrame::MaxChannels)
        QCOMPARE(winner[count], qint8(SourceLevels::NoWinner));
}

void tst_SourceLevels::liveAndInMerge_data()
{
    QTest::addColumn<qint64>("silentMs");
    QTest::addColumn<bool>("live");
    QTest::addColumn<bool>("inMerge");
    QTest::newRow("just sent") << 0ll << true << true;
    QTest::newRow("1 ms short of 4 s: live") << 3999ll << true << true;
    QTest::newRow("4 s: no longer live, still merged") << 4000ll << false << true;
    QTest::newRow("1 ms short of 10 s: still merged") << 9999ll << false << true;
    QTest::newRow("10 s: out of the merge") << 10000ll << false << false;
}

void tst_SourceLevels::liveAndInMerge()
{
    QFETCH(qint64, silentMs);
    QFETCH(bool, live);
    QFETCH(bool, inMerge);
    SourceLevels sources(LiveNs, MergeNs);
    feed(sources, {Frame{1, 500, bytes({1})}});
    QCOMPARE(sources.isLive(0, (500 + silentMs) * NsPerMs), live);
    QCOMPARE(sources.inMerge(0, (500 + silentMs) * NsPerMs), inMerge);
}

void tst_SourceLevels::nodeDropsTheThird_data()
{
    QTest::addColumn<QList<Frame>>("frames");
    QTest::addColumn<qint64>("nowMs");
    QTest::addColumn<QString>("dropped"); // per source in order of first arrival
    const QByteArray level = bytes({1});
    QTest::newRow("two sources: a node merges both")
        << QList<Frame>{{1, 0, level}, {2, 0, level}} << 10ll << QStringLiteral("00");
    QTest::newRow("the third to arrive is ignored")
        << QList<Frame>{{1, 0, level}, {2, 0, level}, {3, 5, level}} << 10ll << QStringLiteral("001");
    QTest::newRow("back after leaving the merge, a source comes last")
        << QList<Frame>{{1, 0, level}, {2, 0, level}, {3, 5000, level}, {2, 9000, level},
                        {3, 9000, level}, {1, 11000, level}}
        << 11000ll << QStringLiteral("100");
    QTest::newRow("one of the two leaves the merge: the third takes its place")
        << QList<Frame>{{1, 0, level}, {2, 0, level}, {3, 1000, level}, {2, 8000, level},
                        {3, 8000, level}}
        << 10500ll << QStringLiteral("000");
}

void tst_SourceLevels::nodeDropsTheThird()
{
    QFETCH(QList<Frame>, frames);
    QFETCH(qint64, nowMs);
    QFETCH(QString, dropped);
    SourceLevels sources(LiveNs, MergeNs);
    feed(sources, frames);
    QString found;
    for (int index = 0; index < sources.count(); ++index)
        found += sources.droppedByNode(index, nowMs * NsPerMs) ? QLatin1Char('1') : QLatin1Char('0');
    QCOMPARE(found, dropped);
}

void tst_SourceLevels::sourcesAreBounded()
{
    SourceLevels sources(LiveNs, MergeNs);
    QList<Frame> frames;
    for (int source = 1; source <= SourceLevels::MaxSources + 1; ++source)
        frames.append(Frame{source, 0, bytes({source})});
    feed(sources, frames);
    QCOMPARE(sources.count(), SourceLevels::MaxSources);
    QCOMPARE(sources.unstoredFrames(), quint64(1));
    QCOMPARE(sources.indexOf(sourceNamed(SourceLevels::MaxSources + 1)), -1);

    // Once the others left the merge, a newcomer takes a place; the one still sending keeps its.
    feed(sources, {Frame{2, 9000, bytes({2})}, Frame{100, 10500, bytes({100})}});
    QCOMPARE(sources.count(), 2);
    QCOMPARE(sources.indexOf(sourceNamed(2)), 0);
    uchar chosen[DmxFrame::MaxChannels];
    QCOMPARE(sources.sourceFrame(sourceNamed(100), chosen), 1);
    QCOMPARE(chosen[0], uchar(100));
}

void tst_SourceLevels::tracesOneChannelPerSource()
{
    SourceLevels sources(LiveNs, MergeNs);
    sources.setTracedChannel(1);
    QList<Frame> frames{{1, 0, bytes({0, 7})}, {2, 1, bytes({0, 9})}, {2, 2, bytes({0})}};
    for (int i = 0; i < SourceLevels::TraceCapacity; ++i)
        frames.append(Frame{1, 10 + i, bytes({0, i % 256})});
    feed(sources, frames);
    // Source 1: the ring keeps the newest; source 2: its frame without channel 2 adds nothing.
    const QList<SourceTraceSample> first = sources.trace(0, 0);
    QCOMPARE(first.size(), SourceLevels::TraceCapacity);
    QCOMPARE(first.first().timeNs, 10 * NsPerMs);
    QCOMPARE(first.last().level, quint8((SourceLevels::TraceCapacity - 1) % 256));
    const QList<SourceTraceSample> second = sources.trace(1, 0);
    QCOMPARE(second.size(), 1);
    QCOMPARE(second.first().level, quint8(9));
    QCOMPARE(sources.trace(0, (SourceLevels::TraceCapacity + 8) * NsPerMs).size(), 2);
}

QTEST_APPLESS_MAIN(tst_SourceLevels)
#include "tst_sourcelevels.moc"
