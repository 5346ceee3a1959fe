// The sACN receiver on a private network: the peer namespace sends, by multicast to the groups
// the receiver joined and by unicast, through sockets of its own and through npm sacn.
#include "framehistory.h"
#include "interoppeers.h"
#include "monotonicclock.h"
#include "privatenetwork.h"
#include "sacnreceiver.h"
#include "testpackets.h"

#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QProcess>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

QHostAddress groupAddress(quint16 universe)
{
    return QHostAddress(0xEFFF0000u | universe);
}

bool censusHas(const SacnReceiver &receiver, quint16 universe)
{
    const QList<UniverseTraffic> universes = receiver.universeTraffic();
    return std::any_of(universes.cbegin(), universes.cend(), [universe](const UniverseTraffic &u) {
        return u.protocol == DmxProtocol::Sacn && u.portAddress == universe;
    });
}

QByteArray dataPacket(quint16 universe, quint8 level = 1)
{
    TestPackets::SacnData packet;
    packet.universe = universe;
    packet.values = QByteArray(1, char(level));
    return TestPackets::sacnData(packet);
}

} // namespace

// What a universe carried some time before the receiver is asked: its number in a discovery
// page, or levels.
struct Heard
{
    quint16 universe;
    bool announced;
    qint64 agoMs;
};
Q_DECLARE_METATYPE(QList<Heard>)

class tst_sacnreceiver : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void followedUniversesAreReceived_data();
    void followedUniversesAreReceived();
    void thousandWatchedUniversesAreReceived();
    void discoveryAnnouncedUniverseIsJoined();
    void announcedUniversesAge_data();
    void announcedUniversesAge();
    void newInterfaceIsJoined();
    void npmSacnSourcesMergeByPriority();

private:
    void send(const QByteArray &datagram, const QHostAddress &to);
    void makeSecondLink();
    void sendOverSecondLink(quint16 universe);

    std::unique_ptr<QUdpSocket> m_peer;
    InteropPeers m_npmSenders{QStringLiteral(VARDOLUX_TEST_SOURCE_DIR "/interop"),
                              QStringLiteral(VARDOLUX_INTEROP_PEERS_DIR)};
};

void tst_sacnreceiver::initTestCase()
{
    VARDOLUX_REQUIRE_PRIVATE_NETWORK();
    QString error;
    const int fd = PrivateNetwork::peerUdpSocket(QString(), 0, &error);
    QVERIFY2(fd >= 0, qPrintable(error));
    m_peer = std::make_unique<QUdpSocket>();
    m_peer->setProxy(QNetworkProxy::NoProxy);
    QVERIFY(m_peer->setSocketDescriptor(fd));
}

void tst_sacnreceiver::cleanup()
{
    m_npmSenders.stopAll();
}

void tst_sacnreceiver::send(const QByteArray &datagram, const QHostAddress &to)
{
    QCOMPARE(m_peer->writeDatagram(datagram, to, 5568), qint64(datagram.size()));
}

void tst_sacnreceiver::followedUniversesAreReceived_data()
{
    QTest::addColumn<quint16>("onShow");
    QTest::addColumn<QList<quint16>>("watched");
    QTest::addColumn<quint16>("universe");
    QTest::addColumn<bool>("unicast");
    QTest::addColumn<bool>("received");
    QTest::addColumn<int>("groups"); // joined, the discovery universe's among them

    QTest::newRow("multicast, universe on show")
            << quint16(1) << QList<quint16>{} << quint16(1) << false << true << 2;
    QTest::newRow("multicast, watched universe")
            << quint16(1) << QList<quint16>{500, 63999} << quint16(63999) << false << true << 4;
    QTest::newRow("multicast, universe nobody follows")
            << quint16(1) << QList<quint16>{500} << quint16(501) << false << false << 3;
    QTest::newRow("multicast, watch list with repeats and numbers outside 1-63999")
            << quint16(1) << QList<quint16>{0, 500, 64000, 500, 64214, 1} << quint16(500) << false
            << true << 3;
    QTest::newRow("unicast, universe nobody follows")
            << quint16(0) << QList<quint16>{} << quint16(777) << true << true << 1;
}

// A datagram that must not arrive is sent before one that must: once the second is in, the
// first would have been too.
void tst_sacnreceiver::followedUniversesAreReceived()
{
    QFETCH(quint16, onShow);
    QFETCH(QList<quint16>, watched);
    QFETCH(quint16, universe);
    QFETCH(bool, unicast);
    QFETCH(bool, received);
    QFETCH(int, groups);

    SacnReceiver receiver;
    QVERIFY(receiver.open());
    receiver.setUniverseOnShow(onShow);
    receiver.setWatchList(watched);
    QCOMPARE(receiver.memberships().groupCount(), groups);
    const QHostAddress local(QString::fromLatin1(PrivateNetwork::LocalAddress));
    send(dataPacket(universe, 77), unicast ? local : groupAddress(universe));
    const quint16 marker = 9;
    send(dataPacket(marker), local);
    QVERIFY2(QTest::qWaitFor([&] { return censusHas(receiver, marker); }, 2000),
             "the unicast marker did not arrive");
    QCOMPARE(censusHas(receiver, universe), received);
    if (received && universe == onShow) {
        uchar levels[512] = {};
        quint16 length = sizeof levels;
        QVERIFY(receiver.readUniverse(levels, &length));
        QCOMPARE(length, quint16(1));
        QCOMPARE(levels[0], uchar(77));
    }
}

void tst_sacnreceiver::thousandWatchedUniversesAreReceived()
{
    SacnReceiver receiver;
    QVERIFY(receiver.open());
    QList<quint16> watched;
    for (quint16 universe = 1; universe <= 1000; ++universe)
        watched.append(universe);
    QElapsedTimer joining;
    joining.start();
    receiver.setWatchList(watched);
    const qint64 joinMs = joining.elapsed();
    // The watched universes and the discovery universe, on art0 alone (lo cannot multicast).
    const MulticastMemberships &memberships = receiver.memberships();
    QCOMPARE(memberships.groupCount(), 1001);
    QCOMPARE(memberships.membershipCount(), 1001);
    QCOMPARE(memberships.failedJoins(), quint64(0));
    QCOMPARE(memberships.socketCount(), 51); // 20 memberships per socket by default
    QElapsedTimer clock;
    clock.start();
    for (quint16 universe = 1; universe <= 1000; ++universe) {
        send(dataPacket(universe), groupAddress(universe));
        if (universe % 100 == 0)
            QCoreApplication::processEvents();
    }
    QTRY_COMPARE_WITH_TIMEOUT(receiver.universeTraffic().size(), 1000, 5000);
    qInfo("joined 1001 groups in %lld ms through %d joining sockets; 1000 universes received in "
          "%lld ms",
          joinMs, memberships.socketCount(), clock.elapsed());
    receiver.setWatchList({});
    QCOMPARE(memberships.groupCount(), 1);
}

void tst_sacnreceiver::discoveryAnnouncedUniverseIsJoined()
{
    SacnReceiver receiver;
    QVERIFY(receiver.open());
    send(TestPackets::sacnDiscovery(QByteArray(16, '\x21'), "Console", 0, 0, {300, 40000}),
         groupAddress(64214));
    QTRY_COMPARE_WITH_TIMEOUT(receiver.discoveredUniverses(), (QList<quint16>{300, 40000}), 2000);
    QVERIFY(receiver.memberships().isJoined(0xEFFF0000u | 300));
    send(dataPacket(300), groupAddress(300));
    QVERIFY(QTest::qWaitFor([&] { return censusHas(receiver, 300); }, 2000));
    receiver.forgetDiscoveredUniverses();
    QVERIFY(!receiver.memberships().isJoined(0xEFFF0000u | 300));
}

void tst_sacnreceiver::announcedUniversesAge_data()
{
    QTest::addColumn<QList<Heard>>("heard");
    QTest::addColumn<QList<quint16>>("watched");         // universe 9 is on show
    QTest::addColumn<QList<quint16>>("discovered");      // once the unannounced are forgotten
    QTest::addColumn<QList<quint16>>("joined");          // of the universes heard
    QTest::addColumn<QList<quint16>>("announcedSilent");

    using U = QList<quint16>;
    QTest::newRow("announced 1 ms less than 30 s ago: followed, silent")
            << QList<Heard>{{300, true, 29999}} << U{} << U{300} << U{300} << U{300};
    QTest::newRow("announced 30 s ago: forgotten and left")
            << QList<Heard>{{300, true, 30000}} << U{} << U{} << U{} << U{};
    QTest::newRow("announced long ago and again 10 s ago: followed")
            << QList<Heard>{{300, true, 40000}, {300, true, 10000}} << U{} << U{300} << U{300}
            << U{300};
    QTest::newRow("levels 1 ms less than 2.5 s ago: not silent")
            << QList<Heard>{{300, true, 10000}, {300, false, 2499}} << U{} << U{300} << U{300}
            << U{};
    QTest::newRow("levels 2.5 s ago: silent")
            << QList<Heard>{{300, true, 10000}, {300, false, 2500}} << U{} << U{300} << U{300}
            << U{300};
    QTest::newRow("levels before the announcement count too")
            << QList<Heard>{{300, false, 1000}, {300, true, 500}} << U{} << U{300} << U{300} << U{};
    QTest::newRow("only the unannounced one of three goes")
            << QList<Heard>{{300, true, 31000}, {301, true, 5000}, {302, true, 29000},
                            {301, false, 100}}
            << U{} << U{301, 302} << U{301, 302} << U{302};
    QTest::newRow("a watched universe forgotten stays joined")
            << QList<Heard>{{300, true, 31000}} << U{300} << U{} << U{300} << U{};
    QTest::newRow("the universe on show forgotten stays joined")
            << QList<Heard>{{9, true, 31000}} << U{} << U{} << U{9} << U{};
}

// The datagrams are handed over with arrival times in the past of a "now" one minute ahead on
// the receiver's census clock, and the receiver is asked as of that now.
void tst_sacnreceiver::announcedUniversesAge()
{
    QFETCH(QList<Heard>, heard);
    QFETCH(QList<quint16>, watched);
    QFETCH(QList<quint16>, discovered);
    QFETCH(QList<quint16>, joined);
    QFETCH(QList<quint16>, announcedSilent);

    SacnReceiver receiver;
    QVERIFY(receiver.open());
    receiver.setUniverseOnShow(9);
    receiver.setWatchList(watched);
    const qint64 baseNs = MonotonicClock::nowNs();
    const qint64 nowMs = receiver.censusMs(baseNs) + 60000;
    const QHostAddress console(QString::fromLatin1(PrivateNetwork::PeerAddress));
    for (const Heard &event : heard) {
        const QByteArray datagram = event.announced
                ? TestPackets::sacnDiscovery(QByteArray(16, '\x21'), "Console", 0, 0, {event.universe})
                : dataPacket(event.universe);
        receiver.handleDatagram(datagram, console, baseNs + (60000 - event.agoMs) * 1'000'000);
    }
    receiver.forgetUnannouncedUniverses(nowMs);

    QCOMPARE(receiver.discoveredUniverses(), discovered);
    QCOMPARE(receiver.announcedSilentUniverses(nowMs), announcedSilent);
    for (const Heard &event : heard)
        QCOMPARE(receiver.memberships().isJoined(0xEFFF0000u | event.universe),
                 joined.contains(event.universe));
}

// A second link to the peer, sacn0 here (10.9.0.1) and sacn1 there (10.9.0.2), made anew each
// time: an interface made again with the same address has lost its memberships.
void tst_sacnreceiver::makeSecondLink()
{
    const QString peerPid = qEnvironmentVariable("VARDOLUX_PEER_NETNS").section(QLatin1Char('/'), 2, 2);
    QVERIFY(PrivateNetwork::run(QStringLiteral("ip link add sacn0 type veth peer name sacn1 netns ")
                                        .append(peerPid)
                                        .split(QLatin1Char(' '))));
    QVERIFY(PrivateNetwork::run(
            QStringLiteral("ip addr add 10.9.0.1/24 dev sacn0").split(QLatin1Char(' '))));
    QVERIFY(PrivateNetwork::run(QStringLiteral("ip link set sacn0 up").split(QLatin1Char(' '))));
    QVERIFY(PrivateNetwork::runInPeer(
            QStringLiteral("ip addr add 10.9.0.2/24 dev sacn1").split(QLatin1Char(' '))));
    QVERIFY(PrivateNetwork::runInPeer(QStringLiteral("ip link set sacn1 up").split(QLatin1Char(' '))));
}

// Multicast from the peer's sacn1 reaches this namespace through sacn0 alone.
void tst_sacnreceiver::sendOverSecondLink(quint16 universe)
{
    QString error;
    const int fd = PrivateNetwork::peerUdpSocket(QStringLiteral("10.9.0.2"), 0, &error);
    QVERIFY2(fd >= 0, qPrintable(error));
    in_addr leaving = {};
    leaving.s_addr = htonl(0x0A090002u);
    QCOMPARE(::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &leaving, sizeof leaving), 0);
    QUdpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy);
    QVERIFY(socket.setSocketDescriptor(fd));
    const QByteArray datagram = dataPacket(universe);
    QCOMPARE(socket.writeDatagram(datagram, groupAddress(universe), 5568), qint64(datagram.size()));
}

void tst_sacnreceiver::newInterfaceIsJoined()
{
    SacnReceiver receiver;
    QVERIFY(receiver.open());
    receiver.setWatchList({5, 6});
    QCOMPARE(receiver.memberships().membershipCount(), 3);
    makeSecondLink();
    QTRY_COMPARE_WITH_TIMEOUT(receiver.memberships().membershipCount(), 6, 3000);
    sendOverSecondLink(5);
    QVERIFY2(QTest::qWaitFor([&] { return censusHas(receiver, 5); }, 2000),
             "nothing arrived through the new interface");

    // Made again at once, within one gathering of change messages: the address list alone
    // would look the same.
    QVERIFY(PrivateNetwork::run(QStringLiteral("ip link del sacn0").split(QLatin1Char(' '))));
    makeSecondLink();
    const MulticastMemberships::Interface remade{
            QNetworkInterface::interfaceIndexFromName(QStringLiteral("sacn0")), 0x0A090001u};
    QTRY_VERIFY_WITH_TIMEOUT(receiver.memberships().interfaces().contains(remade), 3000);
    QCOMPARE(receiver.memberships().membershipCount(), 6);
    sendOverSecondLink(6);
    QVERIFY2(QTest::qWaitFor([&] { return censusHas(receiver, 6); }, 2000),
             "nothing arrived through the interface made again");
    QVERIFY(PrivateNetwork::run(QStringLiteral("ip link del sacn0").split(QLatin1Char(' '))));
}

// Priority decides before level: the source at 150 sends the lower level and wins; once it is
// gone, 2.5 s later the merge follows the one at 100.
void tst_sacnreceiver::npmSacnSourcesMergeByPriority()
{
    SacnReceiver receiver;
    QVERIFY(receiver.open());
    receiver.setUniverseOnShow(7);
    receiver.setFrameHistoryKept(true);
    const QString missing = m_npmSenders.missing({QStringLiteral("sacn")});
    QVERIFY2(missing.isEmpty(), qPrintable(missing));
    const auto startSource = [this](const char *priority, const char *level, const char *cidByte,
                                    const char *name) {
        QString said;
        const bool ready = m_npmSenders.start(
                QStringLiteral("sacn-sender.js"),
                {QStringLiteral("7"), QLatin1String(priority), QLatin1String(level),
                 QStringLiteral("20"), QString::fromLatin1(cidByte).repeated(16), QLatin1String(name)},
                &said);
        if (!ready)
            qWarning("npm sacn sender: %s", qPrintable(said));
        return ready;
    };
    QVERIFY(startSource("100", "200", "0a", "Low priority"));
    QVERIFY(startSource("150", "50", "0b", "High priority"));
    uchar levels[512] = {};
    const auto slotOne = [&] {
        quint16 length = sizeof levels;
        return receiver.readUniverse(levels, &length) && length == 512 ? int(levels[0]) : -1;
    };
    QTRY_COMPARE_WITH_TIMEOUT(receiver.sources().size(), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(slotOne(), 50, 2000);
    QCOMPARE(levels[1], uchar(50));
    QCOMPARE(levels[2], uchar(0));
    QList<SacnSourceInfo> sources = receiver.sources();
    std::sort(sources.begin(), sources.end(),
              [](const SacnSourceInfo &a, const SacnSourceInfo &b) { return a.priority < b.priority; });
    QCOMPARE(sources[0].priority, quint8(100));
    QCOMPARE(sources[0].name, QStringLiteral("Low priority"));
    QCOMPARE(sources[1].priority, quint8(150));
    QCOMPARE(sources[1].name, QStringLiteral("High priority"));
    QCOMPARE(sources[1].address, QHostAddress(QString::fromLatin1(PrivateNetwork::PeerAddress))
                                         .toIPv4Address());
    QCOMPARE(sources[1].cid[0], quint8(0x0b));
    QCOMPARE(receiver.dmxSources(7).size(), 2);
    const FrameHistory *history = receiver.frameHistory();
    QVERIFY(history->endSerial() > 0);
    QCOMPARE(history->levelsAt(history->endSerial() - 1)[0], uchar(50));

    m_npmSenders.processes().back()->kill();
    m_npmSenders.processes().back()->waitForFinished(5000);
    QTRY_COMPARE_WITH_TIMEOUT(slotOne(), 200, 4000);
    QCOMPARE(receiver.sources().size(), 1);
}

QTEST_GUILESS_MAIN(tst_sacnreceiver)
#include "tst_sacnreceiver.moc"
