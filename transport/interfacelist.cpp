#include "interfacelist.h"

namespace InterfaceList {

namespace {

const char *const PlaceholderHardwareAddress = "00:11::22:33:44";
const char *const FallbackHardwareAddress = "00:11:22:33:44:55";

bool isSpecialAddress(const QHostAddress &ip)
{
    return ip == QHostAddress(QHostAddress::Null) || ip == QHostAddress(QHostAddress::LocalHost)
            || ip == QHostAddress(QHostAddress::LocalHostIPv6)
            || ip == QHostAddress(QHostAddress::Broadcast) || ip == QHostAddress(QHostAddress::Any)
            || ip == QHostAddress(QHostAddress::AnyIPv4)
            || ip == QHostAddress(QHostAddress::AnyIPv6);
}

} // namespace

Verdict judge(const QNetworkAddressEntry &entry, const QString &hardwareAddress)
{
    Verdict verdict;
    const QHostAddress ip = entry.ip();
    const QString ipText = ip.toString();
    const QAbstractSocket::NetworkLayerProtocol protocol = ip.protocol();
    if (protocol == QAbstractSocket::IPv6Protocol) {
        verdict.message = QStringLiteral("found IpV6 - ") + ipText + QStringLiteral(" dont' use it");
        return verdict;
    }
    if (protocol != QAbstractSocket::IPv4Protocol) {
        verdict.message = QStringLiteral("found unknown Ip - ") + ipText + QStringLiteral(" dont' use it");
        return verdict;
    }
    if (isSpecialAddress(ip)) {
        verdict.message = QStringLiteral("found IpV4 - ") + ipText + QStringLiteral(" do not use it");
        return verdict;
    }
    const QString summary = QStringLiteral("found IpV4 - %1  Mask: %2 Broad: %3")
                                .arg(ipText, entry.netmask().toString(),
                                     entry.broadcast().toString());
    if (entry.netmask().toIPv4Address() == 0) {
        verdict.message = summary + QStringLiteral("don't add because invalid netmask");
        return verdict;
    }
    if (entry.broadcast().toIPv4Address() == 0) {
        verdict.message = summary + QStringLiteral("don't add because invalid broadcast");
        return verdict;
    }
    const QString hardware = hardwareAddress.isEmpty()
                                 ? QString::fromLatin1(PlaceholderHardwareAddress)
                                 : hardwareAddress;
    verdict.message = summary + QStringLiteral("add to send/receive list with") + hardware;
    verdict.accepted = true;
    verdict.entry = InterfaceEntry{entry, hardware};
    return verdict;
}

InterfaceEntry fallbackEntry()
{
    return InterfaceEntry{QNetworkAddressEntry(), QString::fromLatin1(FallbackHardwareAddress)};
}

QList<QHostAddress> broadcastAddresses(const QList<InterfaceEntry> &interfaces,
                                       QList<const InterfaceEntry *> *owners)
{
    QList<QHostAddress> addresses;
    for (const InterfaceEntry &entry : interfaces) {
        const QHostAddress broadcast = entry.address.broadcast();
        if (broadcast.toIPv4Address() == 0)
            continue;
        addresses << broadcast;
        if (owners)
            *owners << &entry;
    }
    return addresses;
}

const InterfaceEntry *entryForAddress(const QList<InterfaceEntry> &interfaces, quint32 ipv4)
{
    for (const InterfaceEntry &entry : interfaces) {
        const quint32 netmask = entry.address.netmask().toIPv4Address();
        if ((ipv4 & netmask) == (entry.address.ip().toIPv4Address() & netmask))
            return &entry;
    }
    return nullptr;
}

QHostAddress plainAddress(const QHostAddress &address)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    if (isIpv4 && address.protocol() == QAbstractSocket::IPv6Protocol)
        return QHostAddress(ipv4);
    return address;
}

QString networkText(const QNetworkAddressEntry &entry)
{
    const quint32 netmask = entry.netmask().toIPv4Address();
    return QHostAddress(entry.ip().toIPv4Address() & netmask).toString() + QLatin1Char('/')
            + QString::number(entry.prefixLength());
}

BroadcastRoutes broadcastRoutes(const QList<InterfaceEntry> &interfaces,
                                const QList<QHostAddress> &leavingAddresses)
{
    BroadcastRoutes routes;
    for (const InterfaceEntry &entry : interfaces) {
        const QHostAddress ip = entry.address.ip();
        const QHostAddress broadcast = entry.address.broadcast();
        if (broadcast.toIPv4Address() == 0 || ip.isLoopback() || broadcast == ip)
            continue;
        const QString network = networkText(entry.address);
        if (leavingAddresses.contains(ip)) {
            if (!routes.limitedBroadcastNetworks.contains(network))
                routes.limitedBroadcastNetworks << network;
            continue;
        }
        if (routes.directedBroadcasts.contains(broadcast))
            continue;
        routes.directedBroadcasts << broadcast;
        routes.directedNetworks << network;
    }
    if (routes.limitedBroadcastNetworks.isEmpty())
        routes.limitedBroadcastNetworks << QHostAddress(QHostAddress::Broadcast).toString();
    return routes;
}

} // namespace InterfaceList
