#include "multicastinterfaces.h"

#include "interfacelist.h"

#include <QNetworkInterface>

namespace MulticastInterfaces {

QList<Address> addresses()
{
    QList<Address> addresses;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp)
            || !flags.testFlag(QNetworkInterface::CanMulticast))
            continue;
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (InterfaceList::judge(entry, interface.hardwareAddress()).accepted)
                addresses.append({interface.index(), entry.ip().toIPv4Address(),
                                  InterfaceList::networkText(entry)});
        }
    }
    return addresses;
}

} // namespace MulticastInterfaces
