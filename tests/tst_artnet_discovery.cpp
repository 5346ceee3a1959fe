// Interface discovery of the Art-Net engine, on network namespaces built for each case: the
// engine walks the namespace's real interfaces when it is constructed, and what it writes to
// standard output is compared byte for byte.
#include "artnet.h"
#include "privatenetwork.h"

#include <QScopeGuard>
#include <QTest>

#include <memory>

class tst_artnet_discovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void discovery_data();
    void discovery();
    void addressTests_data();
    void addressTests();
    void secondCallWritesNothing();
    void networkChangeIsSeen();

private:
    static QStringList describe(const artnet &engine);
};

// lo in a fresh namespace: 127.0.0.1/8 (refused) and ::1.
static const QByteArray Loopback = "found IpV4 - 127.0.0.1 do not use it"
                                   "found IpV6 - ::1 dont' use it";
static const QString Fallback = QStringLiteral("// 00:11:22:33:44:55");

void tst_artnet_discovery::initTestCase()
{
    VARDOLUX_REQUIRE_PRIVATE_NETWORK();
}

// One line per entry: "address/netmask/broadcast hardware-address".
QStringList tst_artnet_discovery::describe(const artnet &engine)
{
    QStringList lines;
    for (const InterfaceEntry &entry : std::as_const(*engine.m_interfaces))
        lines << entry.address.ip().toString() + QLatin1Char('/') + entry.address.netmask().toString()
                     + QLatin1Char('/') + entry.address.broadcast().toString() + QLatin1Char(' ')
                     + entry.hardwareAddress;
    return lines;
}

void tst_artnet_discovery::discovery_data()
{
    QTest::addColumn<QStringList>("commands"); // "ip" commands, separated by ';'
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QStringList>("entries");

    // The veth pair stays down: discovery does not look at the state, and a down link carries
    // no IPv6 link-local address that would add to the output.
    const QString veth = QStringLiteral(
        "link add vd0 address 02:00:00:00:01:00 type veth peer name vd1 address 02:00:00:00:01:01");

    QTest::newRow("loopback only: the stand-in entry") << QStringList() << Loopback
                                                       << QStringList{Fallback};
    QTest::newRow("adapter 192.168.1.10/24 with broadcast")
        << QStringList{veth, QStringLiteral("addr add 192.168.1.10/24 brd + dev vd0")}
        << Loopback + "found IpV4 - 192.168.1.10  Mask: 255.255.255.0 Broad: 192.168.1.255"
                      "add to send/receive list with02:00:00:00:01:00"
        << QStringList{QStringLiteral("192.168.1.10/255.255.255.0/192.168.1.255 02:00:00:00:01:00")};
    // Qt supplies ip | ~netmask when the kernel reports no broadcast address.
    QTest::newRow("address added without broadcast")
        << QStringList{veth, QStringLiteral("addr add 10.1.0.1/16 dev vd0")}
        << Loopback + "found IpV4 - 10.1.0.1  Mask: 255.255.0.0 Broad: 10.1.255.255"
                      "add to send/receive list with02:00:00:00:01:00"
        << QStringList{QStringLiteral("10.1.0.1/255.255.0.0/10.1.255.255 02:00:00:00:01:00")};
    QTest::newRow("netmask 0.0.0.0 is refused")
        << QStringList{veth, QStringLiteral("addr add 10.2.0.1/0 dev vd0")}
        << Loopback + "found IpV4 - 10.2.0.1  Mask: 0.0.0.0 Broad: 255.255.255.255"
                      "don't add because invalid netmask"
        << QStringList{Fallback};
    QTest::newRow("127.0.0.2/8 is accepted")
        << QStringList{veth, QStringLiteral("addr add 127.0.0.2/8 dev vd0")}
        << Loopback + "found IpV4 - 127.0.0.2  Mask: 255.0.0.0 Broad: 127.255.255.255"
                      "add to send/receive list with02:00:00:00:01:00"
        << QStringList{QStringLiteral("127.0.0.2/255.0.0.0/127.255.255.255 02:00:00:00:01:00")};
    QTest::newRow("second loopback address beside 127.0.0.1")
        << QStringList{QStringLiteral("addr add 127.0.0.2/8 dev lo")}
        << QByteArray("found IpV4 - 127.0.0.1 do not use it"
                      "found IpV4 - 127.0.0.2  Mask: 255.0.0.0 Broad: 127.255.255.255"
                      "add to send/receive list with00:00:00:00:00:00"
                      "found IpV6 - ::1 dont' use it")
        << QStringList{QStringLiteral("127.0.0.2/255.0.0.0/127.255.255.255 00:00:00:00:00:00")};
    QTest::newRow("tun device without hardware address")
        << QStringList{QStringLiteral("tuntap add mode tun vt0"),
                       QStringLiteral("addr add 10.9.0.1/24 dev vt0")}
        << Loopback + "found IpV4 - 10.9.0.1  Mask: 255.255.255.0 Broad: 10.9.0.255"
                      "add to send/receive list with00:11::22:33:44"
        << QStringList{QStringLiteral("10.9.0.1/255.255.255.0/10.9.0.255 00:11::22:33:44")};
    QTest::newRow("several addresses on one adapter, in the system's order")
        << QStringList{veth, QStringLiteral("addr add 10.2.0.1/0 dev vd0"),
                       QStringLiteral("addr add 192.168.1.10/24 dev vd0"),
                       QStringLiteral("addr add 10.1.0.1/16 dev vd0"),
                       QStringLiteral("addr add 192.168.1.11/24 dev vd0")}
        << Loopback + "found IpV4 - 10.2.0.1  Mask: 0.0.0.0 Broad: 255.255.255.255"
                      "don't add because invalid netmask"
                      "found IpV4 - 192.168.1.10  Mask: 255.255.255.0 Broad: 192.168.1.255"
                      "add to send/receive list with02:00:00:00:01:00"
                      "found IpV4 - 10.1.0.1  Mask: 255.255.0.0 Broad: 10.1.255.255"
                      "add to send/receive list with02:00:00:00:01:00"
                      "found IpV4 - 192.168.1.11  Mask: 255.255.255.0 Broad: 192.168.1.255"
                      "add to send/receive list with02:00:00:00:01:00"
        << QStringList{QStringLiteral("192.168.1.10/255.255.255.0/192.168.1.255 02:00:00:00:01:00"),
                       QStringLiteral("10.1.0.1/255.255.0.0/10.1.255.255 02:00:00:00:01:00"),
                       QStringLiteral("192.168.1.11/255.255.255.0/192.168.1.255 02:00:00:00:01:00")};
    QTest::newRow("two adapters, in the system's order")
        << QStringList{veth, QStringLiteral("addr add 192.168.1.10/24 dev vd0"),
                       QStringLiteral("addr add 192.168.2.10/24 dev vd1")}
        << Loopback + "found IpV4 - 192.168.2.10  Mask: 255.255.255.0 Broad: 192.168.2.255"
                      "add to send/receive list with02:00:00:00:01:01"
                      "found IpV4 - 192.168.1.10  Mask: 255.255.255.0 Broad: 192.168.1.255"
                      "add to send/receive list with02:00:00:00:01:00"
        << QStringList{QStringLiteral("192.168.2.10/255.255.255.0/192.168.2.255 02:00:00:00:01:01"),
                       QStringLiteral("192.168.1.10/255.255.255.0/192.168.1.255 02:00:00:00:01:00")};
}

void tst_artnet_discovery::discovery()
{
    QFETCH(QStringList, commands);
    QFETCH(QByteArray, output);
    QFETCH(QStringList, entries);

    auto restore = qScopeGuard([] {
        // Deleting the interfaces takes their addresses with them.
        PrivateNetwork::run({"sh", "-c",
                             "ip link del vd0 2>/dev/null; ip tuntap del mode tun vt0 2>/dev/null; "
                             "ip addr del 127.0.0.2/8 dev lo 2>/dev/null; true"});
    });
    for (const QString &command : std::as_const(commands))
        QVERIFY(PrivateNetwork::run(QStringList{QStringLiteral("ip")}
                                    + command.split(QLatin1Char(' '))));

    auto stdoutText = std::make_unique<StdoutCapture>();
    artnet engine;
    const QByteArray text = stdoutText->take();
    stdoutText.reset(); // QtTest reports on standard output too
    QCOMPARE(text, output);
    QVERIFY(engine.m_interfacesDiscovered);
    QCOMPARE(describe(engine), entries);
    QVERIFY(!engine.m_socket); // discovery opens nothing
}

void tst_artnet_discovery::addressTests_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("netmask");
    QTest::addColumn<QString>("broadcast");
    QTest::addColumn<QString>("hardware");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<bool>("added");

    // A real interface always comes with a broadcast address on this platform, and never with
    // an empty address; these cases are built as address entries instead.
    QTest::newRow("no broadcast address") << "192.168.7.1" << "255.255.255.0" << QString()
        << "02:00:00:00:00:01"
        << QByteArray("found IpV4 - 192.168.7.1  Mask: 255.255.255.0 Broad: "
                      "don't add because invalid broadcast")
        << false;
    QTest::newRow("broadcast 0.0.0.0") << "192.168.7.1" << "255.255.255.0" << "0.0.0.0"
        << "02:00:00:00:00:01"
        << QByteArray("found IpV4 - 192.168.7.1  Mask: 255.255.255.0 Broad: 0.0.0.0"
                      "don't add because invalid broadcast")
        << false;
    QTest::newRow("neither netmask nor broadcast: the netmask is tested first") << "192.168.7.1"
        << QString() << QString() << "02:00:00:00:00:01"
        << QByteArray("found IpV4 - 192.168.7.1  Mask:  Broad: don't add because invalid netmask")
        << false;
    QTest::newRow("empty address") << QString() << QString() << QString() << "02:00:00:00:00:01"
        << QByteArray("found unknown Ip -  dont' use it") << false;
    QTest::newRow("IPv6 address") << "fe80::1" << "ffff:ffff:ffff:ffff::" << QString()
        << "02:00:00:00:00:01" << QByteArray("found IpV6 - fe80::1 dont' use it") << false;
    QTest::newRow("IPv4 broadcast address") << "255.255.255.255" << "255.0.0.0"
        << "255.255.255.255" << "02:00:00:00:00:01"
        << QByteArray("found IpV4 - 255.255.255.255 do not use it") << false;
    QTest::newRow("IPv4 any address") << "0.0.0.0" << "255.0.0.0" << "0.255.255.255"
        << "02:00:00:00:00:01" << QByteArray("found IpV4 - 0.0.0.0 do not use it") << false;
    QTest::newRow("no hardware address") << "192.168.7.1" << "255.255.255.0" << "192.168.7.255"
        << QString()
        << QByteArray("found IpV4 - 192.168.7.1  Mask: 255.255.255.0 Broad: 192.168.7.255"
                      "add to send/receive list with00:11::22:33:44")
        << true;
}

void tst_artnet_discovery::addressTests()
{
    QFETCH(QString, ip);
    QFETCH(QString, netmask);
    QFETCH(QString, broadcast);
    QFETCH(QString, hardware);
    QFETCH(QByteArray, output);
    QFETCH(bool, added);

    std::unique_ptr<artnet> engine;
    {
        StdoutCapture discovery;
        engine = std::make_unique<artnet>();
    }
    engine->m_interfaces->clear();
    QNetworkAddressEntry entry;
    if (!ip.isEmpty())
        entry.setIp(QHostAddress(ip));
    if (!netmask.isEmpty())
        entry.setNetmask(QHostAddress(netmask));
    entry.setBroadcast(broadcast.isEmpty() ? QHostAddress() : QHostAddress(broadcast));

    QByteArray text;
    {
        StdoutCapture stdoutText;
        engine->addressEntryFound(entry, hardware);
        text = stdoutText.take();
    }
    QCOMPARE(text, output);
    QCOMPARE(engine->m_interfaces->size(), added ? 1 : 0);
    if (added)
        QCOMPARE(engine->m_interfaces->first().hardwareAddress,
                 hardware.isEmpty() ? QStringLiteral("00:11::22:33:44") : hardware);
}

void tst_artnet_discovery::secondCallWritesNothing()
{
    auto restore = qScopeGuard([] { PrivateNetwork::run({"ip", "addr", "del", "127.0.0.2/8", "dev", "lo"}); });
    QVERIFY(PrivateNetwork::run({"ip", "addr", "add", "127.0.0.2/8", "dev", "lo"}));
    std::unique_ptr<artnet> engine;
    {
        StdoutCapture discovery;
        engine = std::make_unique<artnet>();
    }
    const QStringList before = describe(*engine);
    QCOMPARE(before.size(), 1);
    // A new address appears; discoverInterfaces itself reads the system once per engine (a
    // network change, handled in the event loop, reads it again: see networkChangeIsSeen).
    QVERIFY(PrivateNetwork::run({"ip", "addr", "add", "127.0.0.3/8", "dev", "lo"}));
    QByteArray text;
    bool discovered = false;
    {
        StdoutCapture stdoutText;
        discovered = engine->discoverInterfaces();
        text = stdoutText.take();
    }
    QVERIFY(discovered);
    QCOMPARE(text, QByteArray());
    QCOMPARE(describe(*engine), before);
    QVERIFY(PrivateNetwork::run({"ip", "addr", "del", "127.0.0.3/8", "dev", "lo"}));
}

// The program was started before the show network's cable was plugged in: the engine hears of
// the new interface and its address from the system and lists it, with its discovery messages.
void tst_artnet_discovery::networkChangeIsSeen()
{
    auto restore = qScopeGuard([] { PrivateNetwork::run({"sh", "-c", "ip link del vd0 2>/dev/null; true"}); });
    std::unique_ptr<artnet> engine;
    {
        StdoutCapture discovery;
        engine = std::make_unique<artnet>();
    }
    QCOMPARE(describe(*engine), QStringList{Fallback});

    auto stdoutText = std::make_unique<StdoutCapture>();
    const bool added = PrivateNetwork::run(
            {"ip", "link", "add", "vd0", "address", "02:00:00:00:01:00", "type", "veth", "peer",
             "name", "vd1", "address", "02:00:00:00:01:01"})
            && PrivateNetwork::run({"ip", "addr", "add", "10.3.0.1/24", "brd", "+", "dev", "vd0"});
    const QStringList expected{QStringLiteral("10.3.0.1/255.255.255.0/10.3.0.255 02:00:00:00:01:00")};
    const bool seen = QTest::qWaitFor([&] { return describe(*engine) == expected; }, 3000);
    QTest::qWait(300); // any later scan finds the same and writes nothing
    const QByteArray text = stdoutText->take();
    stdoutText.reset();
    QVERIFY(added);
    QVERIFY2(seen, qPrintable(describe(*engine).join(QLatin1Char(';'))));
    QCOMPARE(text, Loopback + "found IpV4 - 10.3.0.1  Mask: 255.255.255.0 Broad: 10.3.0.255"
                              "add to send/receive list with02:00:00:00:01:00");

    // Unplugged again: back to the stand-in entry.
    QVERIFY(PrivateNetwork::run({"ip", "link", "del", "vd0"}));
    StdoutCapture quiet;
    QVERIFY(QTest::qWaitFor([&] { return describe(*engine) == QStringList{Fallback}; }, 3000));
}

QTEST_GUILESS_MAIN(tst_artnet_discovery)
#include "tst_artnet_discovery.moc"
