#ifndef DATAGRAMTAP_H
#define DATAGRAMTAP_H

#include <QtGlobal>

// What sees every datagram a DatagramReader takes, before its handler does: a capture of the
// traffic. Called on the receive path, so an implementation copies what it keeps and returns;
// it never blocks. Addresses are IPv4 in host byte order, 0 where unknown (an IPv6 peer, a
// destination the kernel did not report); arrivalNs is CLOCK_MONOTONIC as the handler gets it.
// data is the reader's buffer, valid only during the call.
class DatagramTap
{
public:
    virtual ~DatagramTap() = default;
    virtual void tap(const char *data, int length, quint32 source, quint16 sourcePort,
                     quint32 destination, quint16 destinationPort, qint64 arrivalNs) = 0;

protected:
    DatagramTap() = default;
    DatagramTap(const DatagramTap &) = default;
    DatagramTap &operator=(const DatagramTap &) = default;
};

#endif // DATAGRAMTAP_H
