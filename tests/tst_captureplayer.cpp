// A capture played through the session: two Art-Net consoles and an sACN source on universe 1
// written with libpcap, played as fast as possible or faster than real time, sought, stepped,
// while datagrams from the live network (the loopback of a namespace of its own) stay out.
#include "capturesession.h"
#include "captureplayer.h"
#include "capturewriter.h"
#include "framehistory.h"
#include "monotonicclock.h"
#include "testpackets.h"

#include <QHostAddress>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

namespace {

constexpr qint64 Second = 1'000'000'000;
constexpr qint64 StartNs = 1'760'000'000 * Second; // some day in October 2025
constexpr qint64 LengthNs = 8 * Second;
constexpr qint64 ChangeNs = 4 * Second;          // the first console's channel 1 goes up
constexpr quint32 FirstConsole = 0x0A000001;     // 10.0.0.1, 40 Hz
constexpr quint32 SecondConsole = 0x0A000002;    // 10.0.0.2, 20 Hz
constexpr quint32 SacnConsole = 0x0A000003;      // 10.0.0.3, 25 Hz
constexpr quint16 ArtNetPort = 6454;
constexpr quint16 SacnPort = 5568;

// Channels 1 and 2 merged highest first: the first console's 100 (180 after the change) and
// 10, the second one's 50 and 200.
QByteArray mergedAt(qint64 offsetNs)
{
    return offsetNs < ChangeNs ? QByteArray("\x64\xC8", 2) : QByteArray("\xB4\xC8", 2);
}

void writeShow(const QString &path)
{
    CaptureWriter writer(path);
    QVERIFY(writer.isOpen());
    TestPackets::SacnData sacn;
    sacn.values = QByteArray(2, '\x4D');
    // Every 5 ms, each source when its period comes round.
    for (qint64 t = 0; t <= LengthNs; t += 5'000'000) {
        const qint64 at = StartNs + t;
        if (t % 25'000'000 == 0) {
            const char first = t < ChangeNs ? '\x64' : '\xB4';
            writer.add(at, FirstConsole, ArtNetPort, 0x0AFFFFFF, ArtNetPort,
                       TestPackets::artDmx(0, QByteArray(1, first) + '\x0A'));
        }
        if (t % 50'000'000 == 0)
            writer.add(at, SecondConsole, ArtNetPort, 0x0AFFFFFF, ArtNetPort,
                       TestPackets::artDmx(0, QByteArray("\x32\xC8", 2)));
        if (t % 40'000'000 == 0) {
            ++sacn.sequence;
            writer.add(at, SacnConsole, 50000, 0xEFFF0001, SacnPort, TestPackets::sacnData(sacn));
        }
    }
}

QByteArray mergedLevels(CaptureSession &session)
{
    const UniverseMerge merge = session.universeMerge(LevelChoice::Kind::MergedHtp);
    return QByteArray(reinterpret_cast<const char *>(merge.merged.data()), merge.mergedCount);
}

} // namespace

class tst_CapturePlayer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void playsThroughTheViews_data();
    void playsThroughTheViews();
    void seeks_data();
    void seeks();
    void stepsOneDatagram();
    void keepsTheLiveNetworkOut();

private:
    void checkCensusAt(qint64 offsetNs);
    void playToTheEnd(int speed);

    QTemporaryDir m_dir;
    QString m_path;
    CaptureIndex m_index;
    std::unique_ptr<CaptureSession> m_session;
    std::unique_ptr<CapturePlayer> m_player;
};

void tst_CapturePlayer::initTestCase()
{
    m_path = m_dir.filePath(QStringLiteral("show.pcap"));
    writeShow(m_path);
    QVERIFY2(m_index.build(m_path) && m_index.errorString().isEmpty(),
             qPrintable(m_index.errorString()));
    QCOMPARE(m_index.firstTimeNs(), StartNs);
    QCOMPARE(m_index.lastTimeNs(), StartNs + LengthNs);
    QCOMPARE(m_index.datagrams(), quint64(321 + 161 + 201));
}

void tst_CapturePlayer::init()
{
    m_session = std::make_unique<CaptureSession>();
    m_session->start({});
    QVERIFY(m_session->setUniverse(1));
    m_session->keepHistory();
    // As the window does: the table reads the universe, the network view listens.
    QVERIFY(m_session->startListening());
    uchar levels[512];
    quint16 length = sizeof levels;
    QVERIFY(m_session->readLevels(levels, &length));
    m_player = std::make_unique<CapturePlayer>(m_session.get());
    QVERIFY2(m_player->open(m_path, m_index), qPrintable(m_player->errorString()));
}

void tst_CapturePlayer::cleanup()
{
    m_player.reset();
    QCOMPARE(MonotonicClock::playback(), MonotonicClock::Playback::Live);
    m_session.reset();
}

void tst_CapturePlayer::playToTheEnd(int speed)
{
    m_player->setSpeed(speed);
    QTRY_COMPARE_WITH_TIMEOUT(m_player->state(), CapturePlayer::State::AtEnd, 10000);
    QCOMPARE(m_player->datagramsFed(), m_index.datagrams());
}

// As of the capture's offsetNs: both consoles on Art-Net universe 1 at their rates, in conflict,
// the sACN source on its universe 1, and the merge of the two consoles.
void tst_CapturePlayer::checkCensusAt(qint64 offsetNs)
{
    QCOMPARE(m_player->positionNs(), offsetNs);
    const CensusSnapshot census = m_session->census();
    QCOMPARE(census.universes.size(), 2);
    const UniverseTraffic artNet = census.universes.at(0);
    QCOMPARE(artNet.protocol, DmxProtocol::ArtNet);
    QCOMPARE(artNet.portAddress, quint16(0));
    QVERIFY(artNet.conflict());
    QVERIFY2(qAbs(artNet.rateHz - 60) < 6, qPrintable(QString::number(artNet.rateHz)));
    const UniverseTraffic sacn = census.universes.at(1);
    QCOMPARE(sacn.protocol, DmxProtocol::Sacn);
    QVERIFY2(qAbs(sacn.rateHz - 25) < 2.5, qPrintable(QString::number(sacn.rateHz)));
    QCOMPARE(mergedLevels(*m_session), mergedAt(offsetNs));
}

void tst_CapturePlayer::playsThroughTheViews_data()
{
    QTest::addColumn<int>("speed");
    QTest::newRow("as fast as possible") << int(CapturePlayer::AsFastAsPossible);
    QTest::newRow("eight times real time") << 32;
}

void tst_CapturePlayer::playsThroughTheViews()
{
    QFETCH(int, speed);
    QElapsedTimer clock;
    clock.start();
    playToTheEnd(speed);
    // Eight times real time takes about an eighth of the capture, not less.
    if (speed)
        QVERIFY(clock.elapsed() >= LengthNs / 8 / 1'000'000 - 50);
    checkCensusAt(LengthNs);
    QCOMPARE(MonotonicClock::wallClockMs(), (StartNs + LengthNs) / 1'000'000);
    // The history took the capture's frames at their times, 40 and 20 Hz together.
    const FrameHistory *history = m_session->history();
    QVERIFY(history);
    QCOMPARE(history->endSerial() - history->firstSerial(0), quint64(321 + 161));
}

void tst_CapturePlayer::seeks_data()
{
    QTest::addColumn<bool>("fromTheEnd");
    QTest::addColumn<qint64>("offsetNs");
    QTest::newRow("ahead, before the change") << false << 3 * Second;
    QTest::newRow("ahead, after the change") << false << 6 * Second;
    QTest::newRow("back from the end, before the change") << true << 3 * Second + 7'000'000;
    QTest::newRow("back from the end, past the index's start") << true << 2 * Second;
}

void tst_CapturePlayer::seeks()
{
    QFETCH(bool, fromTheEnd);
    QFETCH(qint64, offsetNs);
    if (fromTheEnd)
        playToTheEnd(CapturePlayer::AsFastAsPossible);
    else
        m_player->pause();
    m_player->seek(offsetNs);
    QTRY_VERIFY(!m_player->seeking());
    QVERIFY(m_player->state() != CapturePlayer::State::Playing);
    checkCensusAt(offsetNs);
}

void tst_CapturePlayer::stepsOneDatagram()
{
    m_player->pause();
    const quint64 fed = m_player->datagramsFed();
    const qint64 at = m_player->positionNs();
    m_player->step();
    QCOMPARE(m_player->state(), CapturePlayer::State::Paused);
    QCOMPARE(m_player->datagramsFed(), fed + 1);
    QVERIFY(m_player->positionNs() >= at);
    // Frozen: nothing more comes while paused.
    QTest::qWait(50);
    QCOMPARE(m_player->datagramsFed(), fed + 1);
}

void tst_CapturePlayer::keepsTheLiveNetworkOut()
{
    QUdpSocket console;
    QVERIFY(console.bind(QHostAddress(QStringLiteral("127.0.0.5")), 0));
    const QByteArray live = TestPackets::artDmx(0, QByteArray(2, '\xFF'));
    console.writeDatagram(live, QHostAddress::LocalHost, ArtNetPort);
    QTRY_COMPARE(m_session->liveDatagramsDropped(), quint64(1));
    playToTheEnd(CapturePlayer::AsFastAsPossible);
    checkCensusAt(LengthNs);

    // Closed: live again, and the capture's sources are gone.
    m_player->close();
    QCOMPARE(MonotonicClock::playback(), MonotonicClock::Playback::Live);
    QVERIFY(m_session->census().universes.isEmpty());
    console.writeDatagram(live, QHostAddress::LocalHost, ArtNetPort);
    QTRY_COMPARE(m_session->census().universes.size(), 1);
    QCOMPARE(m_session->sources(1).size(), 1);
    QCOMPARE(mergedLevels(*m_session), QByteArray(2, '\xFF'));
}

QTEST_MAIN(tst_CapturePlayer)
#include "tst_captureplayer.moc"
