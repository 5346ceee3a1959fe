#ifndef INTERFACEENTRY_H
#define INTERFACEENTRY_H

#include <QNetworkAddressEntry>
#include <QString>

// One usable IPv4 address of the host: the address with its netmask and broadcast address,
// and the text form of its adapter's hardware address.
struct InterfaceEntry
{
    QNetworkAddressEntry address;
    QString hardwareAddress;
};

#endif // INTERFACEENTRY_H
