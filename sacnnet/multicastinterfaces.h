#ifndef MULTICASTINTERFACES_H
#define MULTICASTINTERFACES_H

#include <QList>
#include <QString>
#include <QtGlobal>

// The host's addresses that sACN is received and sent on: every up interface that can
// multicast, with each address discovery would use (InterfaceList::judge). The receiver joins
// its groups on each; the sender sends once per interface, from its first such address.
namespace MulticastInterfaces {

struct Address
{
    int index = 0;         // the interface's
    quint32 address = 0;   // IPv4, host byte order
    QString network;       // as "192.168.1.0/24"
};

QList<Address> addresses();

} // namespace MulticastInterfaces

#endif // MULTICASTINTERFACES_H
