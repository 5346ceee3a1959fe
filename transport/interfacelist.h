#ifndef INTERFACELIST_H
#define INTERFACELIST_H

#include "interfaceentry.h"

#include <QHostAddress>
#include <QList>
#include <QNetworkAddressEntry>
#include <QString>
#include <QStringList>

// What the host's interface list means for sending and answering, as functions over the list
// and its address entries: they ask the system nothing, so they can be tried on any list.
namespace InterfaceList {

// Discovery's judgement of one address entry of an adapter: the message it writes, and whether
// the entry joins the list, with the hardware address it is listed with.
struct Verdict
{
    QString message;
    bool accepted = false;
    InterfaceEntry entry;
};
Verdict judge(const QNetworkAddressEntry &entry, const QString &hardwareAddress);

// The entry for a host without any usable IPv4 address: no address, no netmask, no broadcast.
InterfaceEntry fallbackEntry();

// The broadcast address of every entry that has one, with the entry in *owners: the stand-in
// entry of a host without a network has 0.0.0.0, which only reaches this host.
QList<QHostAddress> broadcastAddresses(const QList<InterfaceEntry> &interfaces,
                                       QList<const InterfaceEntry *> *owners = nullptr);

// The first entry whose network holds the address (host byte order), or null.
const InterfaceEntry *entryForAddress(const QList<InterfaceEntry> &interfaces, quint32 ipv4);

// A socket that listens on both protocols hears IPv4 senders as ::ffff:a.b.c.d; replies,
// messages and sender records use the plain IPv4 form that users and controllers know.
QHostAddress plainAddress(const QHostAddress &address);

// An entry's network as "192.168.1.0/24".
QString networkText(const QNetworkAddressEntry &entry);

// Where a broadcast goes besides 255.255.255.255, which leaves by one interface only: every
// network on that interface (the one holding leavingAddresses) hears it, every other network is
// reached by its directed broadcast, one copy each. Networks that reach no other host (the
// stand-in entry, loopback, a host route of one address) get none.
struct BroadcastRoutes
{
    QList<QHostAddress> directedBroadcasts;
    QStringList directedNetworks;        // beside directedBroadcasts
    QStringList limitedBroadcastNetworks; // "255.255.255.255" when none is known
};
BroadcastRoutes broadcastRoutes(const QList<InterfaceEntry> &interfaces,
                                const QList<QHostAddress> &leavingAddresses);

} // namespace InterfaceList

#endif // INTERFACELIST_H
