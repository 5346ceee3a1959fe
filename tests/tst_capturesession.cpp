// The capture session without a window: no engine and no socket before the first start, the
// identity handed on at every start, the universe numbers it takes, and the census it listens
// for and forgets, with real datagrams on the loopback of a private network namespace.
#include "artnet.h"
#include "eventlog.h"
#include "capturesession.h"
#include "framehistory.h"
#include "testpackets.h"

#include <QHostAddress>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

namespace {

constexpr quint16 ArtNetPort = 6454;

CaptureSession::Identity identity(const QString &shortName)
{
    CaptureSession::Identity given;
    given.versionHi = 0;
    given.versionLo = 6;
    given.oemHi = 0x00;
    given.oemLo = 0xFF;
    given.shortName = shortName;
    given.longName = shortName + QStringLiteral(" V0.6 by www.vardolux.example");
    return given;
}

QByteArray readChosen(CaptureSession &session)
{
    uchar levels[512];
    quint16 length = sizeof levels;
    if (!session.readLevels(levels, &length))
        return "unread";
    return QByteArray(reinterpret_cast<const char *>(levels), length);
}

} // namespace

class tst_CaptureSession : public QObject
{
    Q_OBJECT

private slots:
    void nothingBeforeStart();
    void startMakesTheEngineOnce();
    void universeNumbers_data();
    void universeNumbers();
    void listensCountsAndForgets();
    void followsTheSacnUniverseOnShow();
    void choosesAmongTwoArtNetSenders();
    void findsAConsoleLostAndResumed();
};

void tst_CaptureSession::nothingBeforeStart()
{
    CaptureSession session;
    QVERIFY(!session.started());
    QVERIFY(!session.artNetEngine());
    QVERIFY(!session.openPort());
    QVERIFY(!session.startListening());
    QVERIFY(!session.listening());
    QVERIFY(!session.history());
    uchar levels[512];
    quint16 length = sizeof levels;
    QVERIFY(!session.readLevels(levels, &length));
    QVERIFY(session.send(QByteArray(24, '\x7f'), 1) < 0);
    QCOMPARE(session.sendingUniverse(), 0);
    QVERIFY(session.census().universes.isEmpty());
    QVERIFY(session.sources(1).isEmpty());
    session.stop();
    session.forgetSilent();
    QVERIFY(!session.started());
}

void tst_CaptureSession::startMakesTheEngineOnce()
{
    CaptureSession session;
    session.start(identity(QStringLiteral("Vardolux")));
    artnet *engine = session.artNetEngine();
    QVERIFY(engine);
    QCOMPARE(engine->m_shortName, QStringLiteral("Vardolux"));
    QCOMPARE(engine->m_versionLo, quint8(6));
    QCOMPARE(engine->m_oemLo, quint8(0xFF));

    // Every start gives the identity again, to the same engine.
    session.start(identity(QStringLiteral("Other")));
    QCOMPARE(session.artNetEngine(), engine);
    QCOMPARE(engine->m_shortName, QStringLiteral("Other"));
    QCOMPARE(engine->m_longName, QStringLiteral("Other V0.6 by www.vardolux.example"));
}

void tst_CaptureSession::universeNumbers_data()
{
    QTest::addColumn<int>("universe");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("0 is below the first") << 0 << false;
    QTest::newRow("1, Art-Net universe 0") << 1 << true;
    QTest::newRow("32768, the last port-address") << 32768 << true;
    QTest::newRow("65536, the largest 1-based 16-bit number") << 65536 << true;
    QTest::newRow("65537, beyond 16 bits") << 65537 << false;
    QTest::newRow("negative") << -1 << false;
}

void tst_CaptureSession::universeNumbers()
{
    QFETCH(int, universe);
    QFETCH(bool, accepted);
    CaptureSession session;
    QVERIFY(!session.setUniverse(universe));
    session.start(identity(QStringLiteral("Vardolux")));
    QCOMPARE(session.setUniverse(universe), accepted);
}

void tst_CaptureSession::listensCountsAndForgets()
{
    CaptureSession session;
    session.start(identity(QStringLiteral("Vardolux")));
    QVERIFY(session.startListening());
    QVERIFY(session.listening());

    QUdpSocket console;
    const QByteArray packet = TestPackets::artDmx(2, QByteArray(24, '\x40'), 1);
    QCOMPARE(console.writeDatagram(packet, QHostAddress::LocalHost, ArtNetPort),
             qint64(packet.size()));
    QTRY_COMPARE(session.census().universes.size(), 1);
    const CensusSnapshot census = session.census();
    QCOMPARE(census.universes.at(0).portAddress, quint16(2));
    QCOMPARE(census.universes.at(0).liveSources, 1);
    QCOMPARE(session.sources(3).size(), 1);
    QVERIFY(session.sources(3).at(0).live);

    // Live: forgetting keeps it. Silent for the keep-alive limit: forgetting takes it.
    session.forgetSilent();
    QCOMPARE(session.census().universes.size(), 1);
    QTest::qWait(4100);
    session.forgetSilent();
    QVERIFY(session.census().universes.isEmpty());
    QVERIFY(session.sources(3).isEmpty());

    session.stopListening();
    QVERIFY(!session.listening());
}

void tst_CaptureSession::followsTheSacnUniverseOnShow()
{
    CaptureSession session;
    session.start(identity(QStringLiteral("Vardolux")));
    session.setProtocol(DmxProtocol::Sacn);
    QVERIFY(!session.setSacnUniverse(64000));
    QVERIFY(session.setSacnUniverse(7));
    QCOMPARE(session.universeOnShow(), (UniverseKey{DmxProtocol::Sacn, 7}));
    session.keepHistory();
    QVERIFY(session.openSacnPort());

    // The higher priority wins whatever the levels; the census lists the universe as sACN.
    QUdpSocket console;
    TestPackets::SacnData low;
    low.universe = 7;
    low.values = QByteArray(24, '\xC8');
    TestPackets::SacnData high = low;
    high.cid = QByteArray(16, '\x11');
    high.priority = 150;
    high.values = QByteArray(24, '\x32');
    for (const auto &packet : {low, high})
        console.writeDatagram(TestPackets::sacnData(packet), QHostAddress::LocalHost, 5568);
    QTRY_COMPARE(session.sources(session.universeOnShow()).size(), 2);
    uchar levels[512];
    quint16 length = sizeof levels;
    QVERIFY(session.readLevels(levels, &length));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(levels), length), high.values);
    QVERIFY(session.history() && session.history()->endSerial() > 0);
    QVERIFY(session.startListening());
    const CensusSnapshot census = session.census();
    QCOMPARE(census.universes.size(), 1);
    QCOMPARE(census.universes.at(0).protocol, DmxProtocol::Sacn);
    QCOMPARE(census.sacnSources.size(), 2);

    // Each source alone, beside the receiver's output that is shown unless asked otherwise.
    QCOMPARE(session.levelChoice().kind, LevelChoice::Kind::MergedPriorityHtp);
    const QList<LevelChoice> choices = session.levelChoices();
    QCOMPARE(choices.size(), 4);
    session.setLevelChoice(choices.at(2));
    QCOMPARE(readChosen(session), low.values);
    QCOMPARE(session.universeMerge(LevelChoice::Kind::MergedPriorityHtp).winner[0], qint8(1));
    session.setLevelChoice(LevelChoice::of(LevelChoice::Kind::MergedHtp));
    QCOMPARE(session.levelChoice().kind, LevelChoice::Kind::Source);

    // Back on Art-Net, the sACN merge is no longer what the table reads.
    session.setProtocol(DmxProtocol::ArtNet);
    length = sizeof levels;
    session.readLevels(levels, &length);
    QVERIFY(QByteArray(reinterpret_cast<const char *>(levels), length) != high.values);
}


// Two consoles on one Art-Net universe, from two loopback addresses: what each choice reads,
// the history following the choice, and the merge with its winners.
void tst_CaptureSession::choosesAmongTwoArtNetSenders()
{
    CaptureSession session;
    session.start(identity(QStringLiteral("Vardolux")));
    QVERIFY(session.setUniverse(1));
    session.keepHistory();
    QCOMPARE(readChosen(session), QByteArray());
    QUdpSocket first;
    QUdpSocket second;
    QVERIFY(first.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    QVERIFY(second.bind(QHostAddress(QStringLiteral("127.0.0.3")), 0));
    const QByteArray firstLevels("\x0A\xC8", 2);
    const QByteArray secondLevels("\x32\x14", 2);
    first.writeDatagram(TestPackets::artDmx(0, firstLevels), QHostAddress::LocalHost, ArtNetPort);
    QTRY_COMPARE(session.levelChoices().size(), 4);
    second.writeDatagram(TestPackets::artDmx(0, secondLevels), QHostAddress::LocalHost, ArtNetPort);
    QTRY_COMPARE(session.levelChoices().size(), 5);

    const QList<LevelChoice> choices = session.levelChoices();
    const QList<QByteArray> expected{secondLevels, "\x32\xC8", secondLevels, firstLevels,
                                     secondLevels};
    const QStringList texts{"Latest packet", "Merged (HTP)", "Merged (LTP)", "127.0.0.2",
                            "127.0.0.3"};
    for (int i = 0; i < choices.size(); ++i) {
        session.setLevelChoice(choices.at(i));
        QCOMPARE(session.levelChoice(), choices.at(i));
        QCOMPARE(session.levelChoiceText(choices.at(i)), texts.at(i));
        QCOMPARE(readChosen(session), expected.at(i));
    }

    // The history keeps what the choice gives at each packet: in LTP the first console's change
    // wins its channel, the second console's later start keeps the other.
    session.setLevelChoice(choices.at(2));
    const QByteArray changed("\x0B\xC8", 2);
    first.writeDatagram(TestPackets::artDmx(0, changed), QHostAddress::LocalHost, ArtNetPort);
    const FrameHistory *history = session.history();
    QTRY_COMPARE(QByteArray(reinterpret_cast<const char *>(history->levelsAt(history->endSerial() - 1)),
                            history->lengthAt(history->endSerial() - 1)),
                 QByteArray("\x0B\x14", 2));

    const UniverseMerge merge = session.universeMerge(LevelChoice::Kind::MergedHtp);
    QCOMPARE(merge.sources.size(), 2);
    QVERIFY(merge.sources.at(0).live && merge.sources.at(1).inMerge);
    QCOMPARE(merge.mergedCount, quint16(2));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(merge.merged.data()), 2), QByteArray("\x32\xC8"));
    QCOMPARE(merge.winner[0], qint8(1));
    QCOMPARE(merge.winner[1], qint8(0));
    QCOMPARE(merge.differingChannels, 2);

    // A source's choice ends with its universe.
    session.setLevelChoice(choices.at(3));
    QVERIFY(session.setUniverse(2));
    QCOMPARE(session.levelChoice(), LevelChoice());
    QVERIFY(session.levelChoices().size() == 3);
}

QTEST_MAIN(tst_CaptureSession)
#include "tst_capturesession.moc"

// A console sending 44 frames a second, stopped for 3 s: lost after 2 s, then resumed with its
// silence, from the real socket's arrival times and the window's pass every 250 ms.
void tst_CaptureSession::findsAConsoleLostAndResumed()
{
    CaptureSession session;
    session.start(identity(QStringLiteral("Vardolux")));
    QVERIFY(session.startListening());
    QUdpSocket console;
    const QByteArray packet = TestPackets::artDmx(2, QByteArray(24, '\x40'), 0);
    QTimer sending;
    sending.setTimerType(Qt::PreciseTimer);
    connect(&sending, &QTimer::timeout, &console,
            [&] { console.writeDatagram(packet, QHostAddress::LocalHost, ArtNetPort); });
    QTimer detecting;
    connect(&detecting, &QTimer::timeout, &console, [&] { session.detectEvents(); });
    detecting.start(250);
    sending.start(23);
    QTest::qWait(2000);
    sending.stop();
    QTest::qWait(3000);
    sending.start(23);
    QTest::qWait(1000);

    QStringList kinds;
    qint64 gapMs = -1;
    const EventLog &log = *session.eventLog();
    for (int i = log.count() - 1; i >= 0; --i) {
        kinds << DmxEvent::kindText(log.newest(i).kind);
        if (log.newest(i).kind == DmxEventKind::SourceResumed)
            gapMs = log.newest(i).gapMs;
    }
    QCOMPARE(kinds, QStringList({QStringLiteral("Source appeared"), QStringLiteral("Source lost"),
                                 QStringLiteral("Source resumed")}));
    QVERIFY2(qAbs(gapMs - 3000) <= 500, qPrintable(QString::number(gapMs)));
}
