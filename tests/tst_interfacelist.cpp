// The interface list's meaning for sending and answering, on lists built here: no socket, no
// namespace. Which address entries discovery keeps, which interface answers a poller, and where
// a broadcast goes besides 255.255.255.255.
#include "interfacelist.h"

#include <QTest>

namespace {

// "192.168.1.10/24" with the broadcast address of its network; "none" for the entry of a host
// without a usable address.
InterfaceEntry entryOf(const QString &spec)
{
    if (spec == QLatin1String("none"))
        return InterfaceList::fallbackEntry();
    const QStringList parts = spec.split(QLatin1Char('/'));
    QNetworkAddressEntry address;
    address.setIp(QHostAddress(parts.at(0)));
    address.setPrefixLength(parts.at(1).toInt());
    const quint32 netmask = address.netmask().toIPv4Address();
    address.setBroadcast(QHostAddress((address.ip().toIPv4Address() & netmask) | ~netmask));
    return InterfaceEntry{address, QStringLiteral("02:00:00:00:00:01")};
}

QList<InterfaceEntry> listOf(const QStringList &specs)
{
    QList<InterfaceEntry> list;
    for (const QString &spec : specs)
        list << entryOf(spec);
    return list;
}

} // namespace

class tst_InterfaceList : public QObject
{
    Q_OBJECT

private slots:
    void judge_data();
    void judge();
    void entryForAddress_data();
    void entryForAddress();
    void broadcastRoutes_data();
    void broadcastRoutes();
};

void tst_InterfaceList::judge_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<int>("prefix");         // -1: no netmask
    QTest::addColumn<QString>("broadcast");  // empty: none
    QTest::addColumn<QString>("hardware");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("listedHardware"); // empty: not listed

    QTest::newRow("a usable address is listed with its adapter")
            << "192.168.1.10" << 24 << "192.168.1.255" << "02:00:00:00:00:0A"
            << "found IpV4 - 192.168.1.10  Mask: 255.255.255.0 Broad: 192.168.1.255add to "
               "send/receive list with02:00:00:00:00:0A"
            << "02:00:00:00:00:0A";
    QTest::newRow("an adapter without hardware address gets the placeholder")
            << "10.0.0.5" << 8 << "10.255.255.255" << ""
            << "found IpV4 - 10.0.0.5  Mask: 255.0.0.0 Broad: 10.255.255.255add to "
               "send/receive list with00:11::22:33:44"
            << "00:11::22:33:44";
    QTest::newRow("127.0.0.1 itself is refused")
            << "127.0.0.1" << 8 << "127.255.255.255" << "" << "found IpV4 - 127.0.0.1 do not use it"
            << "";
    QTest::newRow("127.0.0.2 is listed")
            << "127.0.0.2" << 8 << "127.255.255.255" << "00:00:00:00:00:00"
            << "found IpV4 - 127.0.0.2  Mask: 255.0.0.0 Broad: 127.255.255.255add to "
               "send/receive list with00:00:00:00:00:00"
            << "00:00:00:00:00:00";
    QTest::newRow("no netmask is judged before no broadcast")
            << "192.168.1.10" << -1 << "" << "02:00:00:00:00:0A"
            << "found IpV4 - 192.168.1.10  Mask:  Broad: don't add because invalid netmask" << "";
    QTest::newRow("no broadcast")
            << "192.168.1.10" << 24 << "" << "02:00:00:00:00:0A"
            << "found IpV4 - 192.168.1.10  Mask: 255.255.255.0 Broad: don't add because invalid "
               "broadcast"
            << "";
    QTest::newRow("IPv6 is not used")
            << "fe80::1" << 64 << "" << "02:00:00:00:00:0A" << "found IpV6 - fe80::1 dont' use it"
            << "";
}

void tst_InterfaceList::judge()
{
    QFETCH(QString, ip);
    QFETCH(int, prefix);
    QFETCH(QString, broadcast);
    QFETCH(QString, hardware);
    QFETCH(QString, message);
    QFETCH(QString, listedHardware);

    QNetworkAddressEntry entry;
    entry.setIp(QHostAddress(ip));
    if (prefix >= 0)
        entry.setPrefixLength(prefix);
    if (!broadcast.isEmpty())
        entry.setBroadcast(QHostAddress(broadcast));
    const InterfaceList::Verdict verdict = InterfaceList::judge(entry, hardware);
    QCOMPARE(verdict.message, message);
    QCOMPARE(verdict.accepted, !listedHardware.isEmpty());
    if (verdict.accepted) {
        QCOMPARE(verdict.entry.address, entry);
        QCOMPARE(verdict.entry.hardwareAddress, listedHardware);
    }
}

void tst_InterfaceList::entryForAddress_data()
{
    QTest::addColumn<QStringList>("interfaces");
    QTest::addColumn<QString>("poller");
    QTest::addColumn<int>("entry"); // -1: none

    const QStringList two{"192.168.1.10/24", "10.0.0.5/8"};
    QTest::newRow("a poller on the first network") << two << "192.168.1.77" << 0;
    QTest::newRow("a poller on the second network") << two << "10.200.0.1" << 1;
    QTest::newRow("a poller on no network of the host") << two << "172.16.0.1" << -1;
    QTest::newRow("the first of two entries on one network")
            << QStringList{"10.0.0.5/8", "10.1.0.5/16"} << "10.1.2.3" << 0;
    QTest::newRow("the stand-in entry of a host without a network answers everyone")
            << QStringList{"none"} << "172.16.0.1" << 0;
}

void tst_InterfaceList::entryForAddress()
{
    QFETCH(QStringList, interfaces);
    QFETCH(QString, poller);
    QFETCH(int, entry);

    const QList<InterfaceEntry> list = listOf(interfaces);
    const InterfaceEntry *found
            = InterfaceList::entryForAddress(list, QHostAddress(poller).toIPv4Address());
    QCOMPARE(found ? int(found - list.constData()) : -1, entry);
}

void tst_InterfaceList::broadcastRoutes_data()
{
    QTest::addColumn<QStringList>("interfaces");
    QTest::addColumn<QStringList>("leaving");  // addresses of the limited broadcast's interface
    QTest::addColumn<QStringList>("directed"); // broadcast address and network
    QTest::addColumn<QStringList>("limitedNetworks");

    QTest::newRow("one network on the limited broadcast's interface")
            << QStringList{"192.168.1.10/24"} << QStringList{"192.168.1.10"} << QStringList()
            << QStringList{"192.168.1.0/24"};
    QTest::newRow("a second network gets its directed broadcast")
            << QStringList{"192.168.1.10/24", "10.0.0.5/8"} << QStringList{"192.168.1.10"}
            << QStringList{"10.255.255.255 10.0.0.0/8"} << QStringList{"192.168.1.0/24"};
    QTest::newRow("no route for the limited broadcast: every network directed")
            << QStringList{"192.168.1.10/24", "10.0.0.5/8"} << QStringList()
            << QStringList{"192.168.1.255 192.168.1.0/24", "10.255.255.255 10.0.0.0/8"}
            << QStringList{"255.255.255.255"};
    QTest::newRow("two addresses on one network get one copy")
            << QStringList{"192.168.1.10/24", "192.168.1.11/24"} << QStringList()
            << QStringList{"192.168.1.255 192.168.1.0/24"} << QStringList{"255.255.255.255"};
    QTest::newRow("every network of the leaving interface, each once")
            << QStringList{"192.168.1.10/24", "172.16.0.1/16", "192.168.1.11/24"}
            << QStringList{"192.168.1.10", "172.16.0.1", "192.168.1.11"} << QStringList()
            << QStringList{"192.168.1.0/24", "172.16.0.0/16"};
    QTest::newRow("loopback, a host route and the stand-in entry reach nobody")
            << QStringList{"127.0.0.2/8", "10.1.1.1/32", "none"} << QStringList()
            << QStringList() << QStringList{"255.255.255.255"};
}

void tst_InterfaceList::broadcastRoutes()
{
    QFETCH(QStringList, interfaces);
    QFETCH(QStringList, leaving);
    QFETCH(QStringList, directed);
    QFETCH(QStringList, limitedNetworks);

    QList<QHostAddress> leavingAddresses;
    for (const QString &address : std::as_const(leaving))
        leavingAddresses << QHostAddress(address);
    const InterfaceList::BroadcastRoutes routes
            = InterfaceList::broadcastRoutes(listOf(interfaces), leavingAddresses);
    QStringList directedSeen;
    QCOMPARE(routes.directedNetworks.size(), routes.directedBroadcasts.size());
    for (int i = 0; i < routes.directedBroadcasts.size(); ++i)
        directedSeen << routes.directedBroadcasts.at(i).toString() + QLatin1Char(' ')
                        + routes.directedNetworks.at(i);
    QCOMPARE(directedSeen, directed);
    QCOMPARE(routes.limitedBroadcastNetworks, limitedNetworks);
}

QTEST_GUILESS_MAIN(tst_InterfaceList)
#include "tst_interfacelist.moc"
