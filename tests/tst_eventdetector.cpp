// The event detector on a census fed synthetic frames at chosen times, a pass every 250 ms as
// the window makes them: what a technician would be told, and nothing while nothing happens.
#include "dmxcensus.h"
#include "eventdetector.h"
#include "eventlog.h"

#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

enum Flag { Plain = 0, Sacn = 1, SequenceBurst = 2, Malformed = 4 };

// One source sending from fromMs (inclusive) to toMs (exclusive) at hz.
struct Segment
{
    int source = 0;
    qint64 fromMs = 0;
    qint64 toMs = 0;
    double hz = 44;
    int flags = Plain;
    quint8 priority = 100;
};
using Script = QList<Segment>;

struct Frame
{
    qint64 ns;
    int segment;
};

QString kindCode(DmxEventKind kind)
{
    switch (kind) {
    case DmxEventKind::SourceAppeared: return QStringLiteral("appeared");
    case DmxEventKind::SourceLost: return QStringLiteral("lost");
    case DmxEventKind::SourceResumed: return QStringLiteral("resumed");
    case DmxEventKind::ConflictStarted: return QStringLiteral("conflict+");
    case DmxEventKind::ConflictEnded: return QStringLiteral("conflict-");
    case DmxEventKind::Stutter: return QStringLiteral("stutter");
    case DmxEventKind::RateChanged: return QStringLiteral("rate");
    case DmxEventKind::SequenceErrors: return QStringLiteral("sequence");
    case DmxEventKind::Malformed: return QStringLiteral("malformed");
    default: return DmxEvent::kindText(kind);
    }
}

// Steady 44 Hz with a 300 ms interval every 10 s.
Script hiccups()
{
    Script script;
    qint64 from = 0;
    for (int i = 1; i <= 6; ++i) {
        const qint64 to = i * 10000;
        script << Segment{0, from, to};
        const qint64 last = from + qint64(std::floor(double(to - 1 - from) * 44 / 1000) * 1000 / 44);
        from = last + 300;
    }
    return script;
}

} // namespace

Q_DECLARE_METATYPE(Script)

class tst_EventDetector : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void detects_data();
    void detects();
    void boundedUnderChurn();
    void nodes_data();
    void nodes();
    void timeCode_data();
    void timeCode();

private:
    // Feeds the script's frames in time order to the census and runs a pass every 250 ms until
    // endMs; forgetMs, when >= 0, is when the census forgets what fell silent.
    void run(const Script &script, qint64 endMs, qint64 forgetMs = -1);
    static DmxFrame frameOf(const Segment &segment, quint8 sequence);
    QStringList kinds() const;
    QStringList kindTexts() const;

    DmxCensus m_census;
    EventLog m_log;
    EventDetector m_detector{&m_log};
    qint64 m_nowMs = 0;
};

void tst_EventDetector::init()
{
    m_census.clear();
    m_log.clear();
    m_detector.reset();
}

DmxFrame tst_EventDetector::frameOf(const Segment &segment, quint8 sequence)
{
    DmxFrame frame;
    frame.universe = UniverseKey{segment.flags & Sacn ? DmxProtocol::Sacn : DmxProtocol::ArtNet, 1};
    frame.source = SourceIdentity::artNet(0x02000014u + quint32(segment.source), 0);
    if (segment.flags & Sacn) {
        frame.source.protocol = DmxProtocol::Sacn;
        frame.source.cid[0] = quint8(segment.source + 1);
    }
    frame.priority = segment.priority;
    frame.sequence = sequence;
    frame.universeKnown = true;
    frame.malformed = segment.flags & Malformed;
    return frame;
}

void tst_EventDetector::run(const Script &script, qint64 endMs, qint64 forgetMs)
{
    QList<Frame> frames;
    for (int s = 0; s < script.size(); ++s) {
        const qint64 periodNs = qint64(1e9 / script[s].hz);
        for (qint64 ns = script[s].fromMs * 1000000; ns < script[s].toMs * 1000000; ns += periodNs)
            frames << Frame{ns, s};
    }
    std::stable_sort(frames.begin(), frames.end(),
                     [](const Frame &a, const Frame &b) { return a.ns < b.ns; });
    QHash<int, quint8> sequences;
    int next = 0;
    for (m_nowMs = 250; m_nowMs <= endMs; m_nowMs += 250) {
        for (; next < frames.size() && frames[next].ns < m_nowMs * 1000000; ++next) {
            const Segment &segment = script[frames[next].segment];
            quint8 &sequence = sequences[segment.source];
            if (!(segment.flags & Malformed))
                sequence = quint8(sequence % 255 + (segment.flags & SequenceBurst ? 2 : 1));
            DmxFrame frame = frameOf(segment, std::max<quint8>(sequence, 1));
            frame.arrivalNs = frames[next].ns;
            m_census.recordFrame(frame, frames[next].ns / 1000000);
        }
        if (forgetMs >= 0 && m_nowMs == forgetMs)
            m_census.forgetSilent(m_nowMs);
        const DmxProtocol protocol = script[0].flags & Sacn ? DmxProtocol::Sacn : DmxProtocol::ArtNet;
        m_detector.detectSources(m_census, protocol, EventDetector::Pass{m_nowMs, 0, 0}, {});
    }
}

QStringList tst_EventDetector::kinds() const
{
    QStringList kinds;
    for (int i = m_log.count() - 1; i >= 0; --i)
        kinds << kindCode(m_log.newest(i).kind);
    return kinds;
}

void tst_EventDetector::detects_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<qint64>("endMs");
    QTest::addColumn<qint64>("forgetMs");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<qint64>("resumedGapMs"); // -1: not checked

    QTest::newRow("steady console for 60 s: only appeared")
            << Script{{0, 0, 60000}} << qint64(60000) << qint64(-1) << "appeared" << qint64(-1);
    QTest::newRow("44 Hz stopped for 3 s: lost, then resumed after 3 s")
            << Script{{0, 0, 10000}, {0, 13000, 20000}} << qint64(20000) << qint64(-1)
            << "appeared lost resumed" << qint64(3000);
    QTest::newRow("1 Hz keep-alive silent for 3 s: no loss")
            << Script{{0, 0, 10001, 1}, {0, 13000, 20000, 1}} << qint64(20000) << qint64(-1)
            << "appeared" << qint64(-1);
    QTest::newRow("forgotten by the census while lost: still resumed")
            << Script{{0, 0, 10000}, {0, 20000, 25000}} << qint64(25000) << qint64(15000)
            << "appeared lost resumed" << qint64(10000);
    QTest::newRow("second Art-Net source: conflict started, ended when it stops")
            << Script{{0, 0, 20000}, {1, 5000, 10000}} << qint64(20000) << qint64(-1)
            << "appeared appeared conflict+ lost conflict-" << qint64(-1);
    QTest::newRow("sACN at a lower priority: no conflict")
            << Script{{0, 0, 10000, 44, Sacn, 150}, {1, 2000, 10000, 44, Sacn, 100}}
            << qint64(9000) << qint64(-1) << "appeared appeared" << qint64(-1);
    QTest::newRow("sACN at the same priority: conflict")
            << Script{{0, 0, 10000, 44, Sacn, 100}, {1, 2000, 10000, 44, Sacn, 100}}
            << qint64(9000) << qint64(-1) << "appeared appeared conflict+" << qint64(-1);
    QTest::newRow("300 ms hiccup every 10 s: a stutter event each")
            << hiccups() << qint64(59000) << qint64(-1)
            << "appeared stutter stutter stutter stutter stutter" << qint64(-1);
    QTest::newRow("44 to 20 Hz for 6 s: rate changed, and back")
            << Script{{0, 0, 10000}, {0, 10000, 16000, 20}, {0, 16000, 30000}} << qint64(30000)
            << qint64(-1) << "appeared rate rate" << qint64(-1);
    QTest::newRow("44 to 20 Hz for 3 s: nothing")
            << Script{{0, 0, 10000}, {0, 10000, 13000, 20}, {0, 13000, 30000}} << qint64(30000)
            << qint64(-1) << "appeared" << qint64(-1);
    QTest::newRow("a second of skipped sequence numbers: a burst")
            << Script{{0, 0, 5000}, {0, 5000, 6000, 44, SequenceBurst}, {0, 6000, 10000}}
            << qint64(10000) << qint64(-1) << "appeared sequence" << qint64(-1);
    QTest::newRow("malformed every second: the first, then once a minute")
            << Script{{0, 0, 130000}, {0, 500, 130000, 1, Malformed}} << qint64(130000)
            << qint64(-1) << "appeared malformed malformed malformed" << qint64(-1);
}

void tst_EventDetector::detects()
{
    QFETCH(Script, script);
    QFETCH(qint64, endMs);
    QFETCH(qint64, forgetMs);
    QFETCH(QString, expected);
    QFETCH(qint64, resumedGapMs);

    run(script, endMs, forgetMs);
    QCOMPARE(kinds().join(QLatin1Char(' ')), expected);
    for (int i = 0; i < m_log.count(); ++i) {
        const DmxEvent &event = m_log.newest(i);
        if (event.kind == DmxEventKind::SourceResumed && resumedGapMs >= 0)
            QVERIFY2(std::abs(event.gapMs - resumedGapMs) <= 500, qPrintable(event.text));
        if (event.kind == DmxEventKind::SourceLost)
            QCOMPARE(event.universeSilent, !expected.contains(QLatin1String("conflict")));
    }
    if (QByteArray(QTest::currentDataTag()).startsWith("300 ms")) {
        const DmxSource source = m_census.sources(UniverseKey{DmxProtocol::ArtNet, 1}, m_nowMs).value(0);
        QVERIFY2(std::abs(source.health.medianUs - 22727) < 22727 / 20,
                 qPrintable(QString::number(source.health.medianUs)));
        QVERIFY2(source.health.maxUs >= 290000 && source.health.maxUs < 330000,
                 qPrintable(QString::number(source.health.maxUs)));
        QCOMPARE(source.health.stutters, 5u);
    }
}

// Sources that send a moment and fall silent, one after another, far beyond both bounds.
void tst_EventDetector::boundedUnderChurn()
{
    constexpr int Sources = 20000;
    int sent = 0;
    for (m_nowMs = 250; sent < Sources || m_nowMs < 10000 + Sources / 40 * 250; m_nowMs += 250) {
        for (int i = 0; i < 40 && sent < Sources; ++i, ++sent) {
            DmxFrame frame = frameOf(Segment{sent}, 1);
            frame.source.address = 0x0A000000u + quint32(sent);
            frame.universe.number = quint16(sent % 512);
            m_census.recordFrame(frame, m_nowMs);
        }
        if (m_nowMs % 1000 == 0)
            m_census.forgetSilent(m_nowMs);
        m_detector.detectSources(m_census, DmxProtocol::ArtNet, EventDetector::Pass{m_nowMs, 0, 0},
                                 {});
        QVERIFY(m_detector.trackedSources() <= EventDetector::MaxTracked);
    }
    const QStringList seen = kinds();
    QCOMPARE(seen.count(QStringLiteral("appeared")), Sources);
    QCOMPARE(seen.count(QStringLiteral("lost")), Sources);
}

QStringList tst_EventDetector::kindTexts() const
{
    QStringList kinds;
    for (int i = m_log.count() - 1; i >= 0; --i)
        kinds << DmxEvent::kindText(m_log.newest(i).kind);
    return kinds;
}

// A node as "short name|report|gone"; empty: no node.
static QList<NodeInfo> nodeList(const QString &text)
{
    if (text.isEmpty())
        return {};
    const QStringList fields = text.split(QLatin1Char('|'));
    NodeInfo node;
    node.sourceAddress = node.packetAddress = 0x0200001Eu;
    node.bindIndex = 1;
    node.shortName = fields.value(0);
    node.nodeReport = fields.value(1);
    node.gone = fields.value(2) == QLatin1String("1");
    return {node};
}

void tst_EventDetector::nodes_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("expected"); // the second pass's event: kind, then text
    const QString a = QStringLiteral("Dimmer A|#0001 [0001] OK|0");
    QTest::newRow("a node answers") << "" << a << "Node appeared: 2.0.0.30 (Dimmer A) appeared";
    QTest::newRow("missed three polls") << a << "Dimmer A|#0001 [0004] OK|1"
                                        << "Node gone: 2.0.0.30 (Dimmer A) missed 3 polls";
    QTest::newRow("answers again") << "Dimmer A|#0001 [0004] OK|1" << a
                                   << "Node came back: 2.0.0.30 (Dimmer A) came back";
    QTest::newRow("renamed") << a << "Dimmer B|#0001 [0002] OK|0"
                             << "Node changed: 2.0.0.30 (Dimmer B): name \"Dimmer A\" to \"Dimmer B\"";
    QTest::newRow("only the report's counter moves") << a << "Dimmer A|#0001 [0002] OK|0" << "";
}

void tst_EventDetector::nodes()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(QString, expected);
    m_detector.detectNodes(nodeList(before), EventDetector::Pass{3000, 0, 0});
    m_log.clear();
    m_detector.detectNodes(nodeList(after), EventDetector::Pass{6000, 0, 0});
    QStringList events;
    for (int i = m_log.count() - 1; i >= 0; --i)
        events << DmxEvent::kindText(m_log.newest(i).kind) + QStringLiteral(": ")
                        + m_log.newest(i).text;
    QCOMPARE(events.join(QLatin1Char('\n')), expected);
}

void tst_EventDetector::timeCode_data()
{
    QTest::addColumn<qint64>("lastSeenMs"); // at the second pass, at 5000; the first is at 4000
    QTest::addColumn<quint32>("jumps");     // the first pass saw it running without a jump
    QTest::addColumn<QString>("expected");
    QTest::newRow("runs on") << qint64(4990) << 0u << "";
    QTest::newRow("silent for a second") << qint64(4000) << 0u << "Time code stopped";
    QTest::newRow("jumped") << qint64(4990) << 1u << "Time code jumped";
}

void tst_EventDetector::timeCode()
{
    QFETCH(qint64, lastSeenMs);
    QFETCH(quint32, jumps);
    QFETCH(QString, expected);
    TimeCodeSource sender;
    sender.sender = QHostAddress(QStringLiteral("2.0.0.40"));
    sender.lastSeenMs = 4000;
    m_detector.detectTimeCode({sender}, EventDetector::Pass{4000, 0, 0});
    QCOMPARE(kindTexts(), QStringList{QStringLiteral("Time code started")});
    m_log.clear();
    sender.lastSeenMs = lastSeenMs;
    sender.jumps = jumps;
    m_detector.detectTimeCode({sender}, EventDetector::Pass{5000, 0, 0});
    QCOMPARE(kindTexts().join(QLatin1Char(' ')), expected);
}

QTEST_GUILESS_MAIN(tst_EventDetector)
#include "tst_eventdetector.moc"
