// The census and the node list against Art-Net stacks of other makers: two consoles, of the npm
// packages "artnet" and "dmxnet", send one universe from two addresses of the peer host at two
// known rates, and the dmxnet node answers our ArtPoll with one ArtPollReply per port. Our own
// tests feed the engine packets written by our own code; these are written by someone else's.
// Then the same two consoles send known, different levels to the capture session: its merges,
// each console's own frame, and the Art-Net merge timeout when one console stops.
// The peers are pinned by tests/interop/package-lock.json and installed into the build tree by
// build.sh (npm ci); without them this test fails instead of passing over them.
#include "artnet.h"
#include "capturesession.h"
#include "interoppeers.h"
#include "privatenetwork.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr const char *SecondPeerAddress = "2.0.0.21"; // added to art1 for the second console
constexpr quint16 SharedPortAddress = 0x0112;         // Net 1, Sub-Net 1, Universe 2
constexpr quint16 FirstReceivePortAddress = 0x0113;
constexpr quint16 SecondReceivePortAddress = 0x0114;
constexpr int DmxnetRateHz = 40;
constexpr int ArtnetRateHz = 25;
// Long enough for dmxnet's Sequence to come round from 255 to 1 at 40 Hz (6.4 s), and for three
// polls at 3 s intervals.
constexpr int RunMs = 7500;
constexpr int RateSamplesFromMs = 2500; // the rate's one-second window is long since full
constexpr int RateSampleEveryMs = 250;

quint32 ipv4(const char *address)
{
    return QHostAddress(QString::fromLatin1(address)).toIPv4Address();
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct SourceCase
{
    const char *name;
    const char *address;
    int rateHz;
    bool numbered; // sends Sequence 1..255, else 0
};

// Channel c of each console's frame is at (c * factor + offset) % 256; the two differ on all but
// four channels, and on each some are higher than the other's.
struct LevelPattern
{
    int factor;
    int offset;
    QString argument() const { return QStringLiteral("levels=%1,%2").arg(factor).arg(offset); }
    QByteArray levels() const
    {
        QByteArray frame(512, 0);
        for (int channel = 0; channel < frame.size(); ++channel)
            frame[channel] = char((channel * factor + offset) % 256);
        return frame;
    }
};
constexpr LevelPattern DmxnetLevels{37, 0};
constexpr LevelPattern ArtnetLevels{91, 50};
constexpr int ArtNetMergeTimeoutMs = 10000;
constexpr int ArtNetLiveMs = 4000;

QByteArray highest(const QByteArray &a, const QByteArray &b)
{
    QByteArray frame = a;
    for (int channel = 0; channel < frame.size(); ++channel)
        frame[channel] = char(qMax(quint8(a[channel]), quint8(b[channel])));
    return frame;
}

QByteArray chosenLevels(CaptureSession &session, const LevelChoice &choice)
{
    session.setLevelChoice(choice);
    uchar levels[512];
    quint16 length = sizeof levels;
    if (!session.readLevels(levels, &length))
        return "unread";
    return QByteArray(reinterpret_cast<const char *>(levels), length);
}

QByteArray mergedOf(const UniverseMerge &merge)
{
    return QByteArray(reinterpret_cast<const char *>(merge.merged.data()), merge.mergedCount);
}

const SourceCase SourceCases[] = {
    {"dmxnet console at 2.0.0.20, 40 Hz, Sequence 1..255", PrivateNetwork::PeerAddress,
     DmxnetRateHz, true},
    {"artnet console at 2.0.0.21, 25 Hz, Sequence 0", SecondPeerAddress, ArtnetRateHz, false},
};

} // namespace

class tst_NetworkInterop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void universeInConflict();
    void sources_data();
    void sources();
    void nodePorts_data();
    void nodePorts();
    void nothingPassedOver();
    void levelChoices_data();
    void levelChoices();
    void mergeWinners();
    void mergeTimeoutAfterConsoleStops();

private:
    void watchTraffic();
    void startMergeSession();

    InteropPeers m_peers{QStringLiteral(VARDOLUX_TEST_SOURCE_DIR "/interop"),
                         QStringLiteral(VARDOLUX_INTEROP_PEERS_DIR)};
    QString m_peerMac;
    QList<UniverseTraffic> m_universes;
    QList<DmxSource> m_sources;
    QHash<quint32, double> m_medianRate; // by sender address
    double m_medianTotalRate = 0;
    QList<NodeInfo> m_nodes;
    quint64 m_malformedDmx = 0;
    quint64 m_malformedReplies = 0;
    quint64 m_unstored = 0;
    std::unique_ptr<CaptureSession> m_session; // the consoles' known levels, merged
};

void tst_NetworkInterop::initTestCase()
{
    VARDOLUX_REQUIRE_PRIVATE_NETWORK();
    QVERIFY2(PrivateNetwork::hasPeer(), "needs the peer namespace (register the test with PEER)");
    const QString missing = m_peers.missing({QStringLiteral("artnet"), QStringLiteral("dmxnet")});
    QVERIFY2(missing.isEmpty(), qPrintable(missing));

    QVERIFY(PrivateNetwork::runInPeer({QStringLiteral("ip"), QStringLiteral("addr"),
                                       QStringLiteral("add"),
                                       QLatin1String(SecondPeerAddress) + QStringLiteral("/8"),
                                       QStringLiteral("dev"), QStringLiteral("art1")}));
    // "art1@if2  UP  aa:bb:cc:dd:ee:ff <BROADCAST,...>"
    QString link;
    QVERIFY(PrivateNetwork::runInPeer({QStringLiteral("ip"), QStringLiteral("-br"),
                                       QStringLiteral("link"), QStringLiteral("show"),
                                       QStringLiteral("art1")},
                                      &link));
    m_peerMac = link.simplified().section(QLatin1Char(' '), 2, 2);
    QVERIFY2(m_peerMac.count(QLatin1Char(':')) == 5, qPrintable(link));

    watchTraffic();
    startMergeSession();
}

void tst_NetworkInterop::cleanupTestCase()
{
    m_peers.stopAll();
}

void tst_NetworkInterop::watchTraffic()
{
    StdoutCapture quiet; // the engine's diagnostics
    artnet engine;
    QVERIFY(engine.setCensusEnabled(true));

    QString error;
    QVERIFY2(m_peers.start(QStringLiteral("dmxnet-node.js"),
                       {QLatin1String(PrivateNetwork::PeerAddress),
                        QString::number(SharedPortAddress), QString::number(DmxnetRateHz),
                        QString::number(FirstReceivePortAddress),
                        QString::number(SecondReceivePortAddress)},
                       &error),
             qPrintable(error));
    QVERIFY2(m_peers.start(QStringLiteral("artnet-console.js"),
                       {QLatin1String(SecondPeerAddress), QString::number(SharedPortAddress),
                        QString::number(ArtnetRateHz)},
                       &error),
             qPrintable(error));
    QVERIFY(engine.startNodePolling());

    QHash<quint32, std::vector<double>> rates;
    std::vector<double> totalRates;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < RunMs) {
        QTest::qWait(RateSampleEveryMs);
        if (clock.elapsed() < RateSamplesFromMs)
            continue;
        for (const DmxSource &source : engine.dmxSources(SharedPortAddress))
            rates[source.address].push_back(source.rateHz);
        for (const UniverseTraffic &universe : engine.universeTraffic())
            if (universe.portAddress == SharedPortAddress)
                totalRates.push_back(universe.rateHz);
    }
    for (auto it = rates.cbegin(); it != rates.cend(); ++it)
        m_medianRate.insert(it.key(), median(it.value()));
    m_medianTotalRate = median(totalRates);

    m_universes = engine.universeTraffic();
    m_sources = engine.dmxSources(SharedPortAddress);
    m_nodes = engine.nodes();
    m_malformedDmx = engine.malformedDmx();
    m_malformedReplies = engine.malformedPollReplies();
    m_unstored = engine.unstoredSources() + engine.unstoredNodes();
    for (const std::unique_ptr<QProcess> &peer : m_peers.processes())
        QVERIFY2(peer->state() == QProcess::Running,
                 qPrintable(QStringLiteral("a peer ended early: ")
                            + QString::fromLocal8Bit(peer->readAll())));
}

// The dmxnet console first, so that the artnet console's first frame is the later change on
// every channel.
void tst_NetworkInterop::startMergeSession()
{
    m_peers.stopAll();
    m_session = std::make_unique<CaptureSession>();
    m_session->start(CaptureSession::Identity());
    QVERIFY(m_session->setUniverse(SharedPortAddress + 1));
    QVERIFY(m_session->openPort());
    m_session->keepHistory();
    QString error;
    QVERIFY2(m_peers.start(QStringLiteral("dmxnet-node.js"),
                       {QLatin1String(PrivateNetwork::PeerAddress),
                        QString::number(SharedPortAddress), QString::number(DmxnetRateHz),
                        QString::number(FirstReceivePortAddress), DmxnetLevels.argument()},
                       &error),
             qPrintable(error));
    QTRY_COMPARE(m_session->levelChoices().size(), 4);
    QVERIFY2(m_peers.start(QStringLiteral("artnet-console.js"),
                       {QLatin1String(SecondPeerAddress), QString::number(SharedPortAddress),
                        QString::number(ArtnetRateHz), ArtnetLevels.argument()},
                       &error),
             qPrintable(error));
    QTRY_COMPARE(m_session->levelChoices().size(), 5);
}

void tst_NetworkInterop::universeInConflict()
{
    QCOMPARE(m_universes.size(), 1);
    const UniverseTraffic &universe = m_universes.first();
    QCOMPARE(universe.portAddress, SharedPortAddress);
    QCOMPARE(universe.sources, 2);
    QCOMPARE(universe.liveSources, 2);
    QVERIFY(universe.conflict());
    QCOMPARE(universe.moreSources, 0u);
    QCOMPARE(universe.sequenceErrors, 0u);
    const double total = DmxnetRateHz + ArtnetRateHz;
    QVERIFY2(qAbs(m_medianTotalRate - total) <= 0.1 * total,
             qPrintable(QStringLiteral("total rate %1 Hz (median)").arg(m_medianTotalRate)));
}

void tst_NetworkInterop::sources_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("rateHz");
    QTest::addColumn<bool>("numbered");
    for (const SourceCase &sourceCase : SourceCases)
        QTest::newRow(sourceCase.name)
            << ipv4(sourceCase.address) << sourceCase.rateHz << sourceCase.numbered;
}

void tst_NetworkInterop::sources()
{
    QFETCH(quint32, address);
    QFETCH(int, rateHz);
    QFETCH(bool, numbered);

    const auto source = std::find_if(m_sources.cbegin(), m_sources.cend(),
                                     [address](const DmxSource &s) {
                                         return s.address == address;
                                     });
    QVERIFY2(source != m_sources.cend(), "no such source in the census");
    QVERIFY(source->live);
    QCOMPARE(source->physical, quint8(0));
    QCOMPARE(source->lastLength, quint16(512));
    QCOMPARE(source->sequenceGaps, 0u);
    QCOMPARE(source->sequenceOutOfOrder, 0u);
    QCOMPARE(source->malformed, 0u);
    QVERIFY(!source->sendsSync);
    if (numbered) // Sequence went round from 255 to 1 at least once, and counted no error
        QVERIFY2(source->packets > 255, qPrintable(QString::number(source->packets)));

    // The median of samples a quarter of a second apart: a machine busy with other builds may
    // hold the test's event loop up for a moment, and a single sample would then see a burst.
    const double rate = m_medianRate.value(address);
    qInfo("sent at %d Hz: census rate %.1f Hz (median of the samples), %.1f Hz at the end; "
          "%llu packets",
          rateHz, rate, source->rateHz, static_cast<unsigned long long>(source->packets));
    QVERIFY2(qAbs(rate - rateHz) <= 0.1 * rateHz,
             qPrintable(QStringLiteral("median rate %1 Hz, sent at %2 Hz").arg(rate).arg(rateHz)));
}

void tst_NetworkInterop::nodePorts_data()
{
    QTest::addColumn<int>("bindIndex");
    QTest::addColumn<bool>("input");
    QTest::addColumn<quint16>("portAddress");
    // dmxnet answers one packet per port: its sender first, then its receivers.
    QTest::newRow("BindIndex 1: the input port it sends") << 1 << true << SharedPortAddress;
    QTest::newRow("BindIndex 2: first output port") << 2 << false << FirstReceivePortAddress;
    QTest::newRow("BindIndex 3: second output port") << 3 << false << SecondReceivePortAddress;
}

void tst_NetworkInterop::nodePorts()
{
    QFETCH(int, bindIndex);
    QFETCH(bool, input);
    QFETCH(quint16, portAddress);

    QCOMPARE(m_nodes.size(), 3);
    const auto node = std::find_if(m_nodes.cbegin(), m_nodes.cend(),
                                   [bindIndex](const NodeInfo &n) {
                                       return n.bindIndex == bindIndex;
                                   });
    QVERIFY2(node != m_nodes.cend(), "no reply with this BindIndex in the node list");
    const quint32 peer = ipv4(PrivateNetwork::PeerAddress);
    QCOMPARE(node->sourceAddress, peer);
    QCOMPARE(node->packetAddress, peer);
    QVERIFY(!node->addressMismatch());
    QCOMPARE(node->shortName, QStringLiteral("dmxnet peer"));
    QCOMPARE(node->longName, QStringLiteral("dmxnet test peer of Vardolux"));
    QVERIFY2(node->nodeReport.contains(QLatin1String("dmxnet ArtNet-Transceiver running")),
             qPrintable(node->nodeReport));
    const QString mac = QByteArray(reinterpret_cast<const char *>(node->mac), 6).toHex(':');
    QCOMPARE(mac, m_peerMac);
    QCOMPARE(node->firmware, quint16(1));
    QCOMPARE(node->oem, quint16(0x2908));
    QCOMPARE(node->status1, quint8(0xD0));
    // Its 213-byte reply reaches Status2.
    QCOMPARE(node->status2, quint8(0x0E));
    // dmxnet writes the Port field high byte first; it is sent low byte first, and read so.
    QCOMPARE(node->port, quint16(0x3619));
    QCOMPARE(node->numPorts, quint16(1));
    QCOMPARE(node->portTypes[0], quint8(input ? 0x40 : 0x80));
    QCOMPARE(node->goodInput[0], quint8(input ? 0x80 : 0x00));
    QCOMPARE(node->goodOutput[0], quint8(input ? 0x00 : 0x80));
    QCOMPARE(input ? node->swIn[0] : node->swOut[0], portAddress);
    QVERIFY(!node->gone);
    QVERIFY(!node->self);
}

void tst_NetworkInterop::nothingPassedOver()
{
    QCOMPARE(m_malformedDmx, 0u);
    QCOMPARE(m_malformedReplies, 0u);
    QCOMPARE(m_unstored, 0u);
}

void tst_NetworkInterop::levelChoices_data()
{
    QTest::addColumn<int>("choiceIndex"); // in levelChoices()
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray dmxnet = DmxnetLevels.levels();
    const QByteArray artnet = ArtnetLevels.levels();
    QTest::newRow("HTP: the higher of the two on each channel")
        << 1 << QStringLiteral("Merged (HTP)") << highest(dmxnet, artnet);
    QTest::newRow("LTP: the artnet console's later first frame on every channel")
        << 2 << QStringLiteral("Merged (LTP)") << artnet;
    QTest::newRow("the dmxnet console alone")
        << 3 << QString::fromLatin1(PrivateNetwork::PeerAddress) << dmxnet;
    QTest::newRow("the artnet console alone")
        << 4 << QString::fromLatin1(SecondPeerAddress) << artnet;
}

void tst_NetworkInterop::levelChoices()
{
    QFETCH(int, choiceIndex);
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    QVERIFY(m_session);
    const LevelChoice choice = m_session->levelChoices().value(choiceIndex);
    QCOMPARE(m_session->levelChoiceText(choice), text);
    QCOMPARE(chosenLevels(*m_session, choice), expected);
}

void tst_NetworkInterop::mergeWinners()
{
    QVERIFY(m_session);
    const QByteArray dmxnet = DmxnetLevels.levels();
    const QByteArray artnet = ArtnetLevels.levels();
    const UniverseMerge merge = m_session->universeMerge(LevelChoice::Kind::MergedHtp);
    QCOMPARE(merge.sources.size(), 2);
    QCOMPARE(mergedOf(merge), highest(dmxnet, artnet));
    int differing = 0;
    for (int channel = 0; channel < 512; ++channel) {
        if (dmxnet[channel] == artnet[channel])
            continue;
        ++differing;
        const qint8 winner = quint8(dmxnet[channel]) > quint8(artnet[channel]) ? 0 : 1;
        QVERIFY2(merge.winner[size_t(channel)] == winner, qPrintable(QString::number(channel)));
    }
    QCOMPARE(differing, 508);
    QCOMPARE(merge.differingChannels, differing);
}

// The stopped console is no longer live after 4 s but stays in the merge until 10 s.
void tst_NetworkInterop::mergeTimeoutAfterConsoleStops()
{
    QVERIFY(m_session);
    const LevelChoice htp = LevelChoice::of(LevelChoice::Kind::MergedHtp);
    const QByteArray both = highest(DmxnetLevels.levels(), ArtnetLevels.levels());
    QCOMPARE(chosenLevels(*m_session, htp), both);
    m_peers.processes().front()->kill(); // the dmxnet console
    QElapsedTimer stopped;
    stopped.start();
    qint64 liveEndedMs = -1;
    qint64 mergeLeftMs = -1;
    while (mergeLeftMs < 0 && stopped.elapsed() < ArtNetMergeTimeoutMs + 3000) {
        QTest::qWait(50);
        const MergeSourceLevels dmxnet = m_session->universeMerge(htp.kind).sources.value(0);
        if (liveEndedMs < 0 && !dmxnet.live)
            liveEndedMs = stopped.elapsed();
        if (!dmxnet.inMerge)
            mergeLeftMs = stopped.elapsed();
        else
            QCOMPARE(chosenLevels(*m_session, htp), both);
    }
    qInfo("stopped console: not live after %lld ms, out of the merge after %lld ms",
          liveEndedMs, mergeLeftMs);
    QVERIFY(liveEndedMs >= ArtNetLiveMs - 100 && liveEndedMs < ArtNetLiveMs + 1000);
    QVERIFY(mergeLeftMs >= ArtNetMergeTimeoutMs - 100);
    QCOMPARE(chosenLevels(*m_session, htp), ArtnetLevels.levels());
}

QTEST_GUILESS_MAIN(tst_NetworkInterop)
#include "tst_networkinterop.moc"
