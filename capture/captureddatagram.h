#ifndef CAPTUREDDATAGRAM_H
#define CAPTUREDDATAGRAM_H

#include <QtGlobal>

// One Art-Net or sACN datagram as a capture file holds it: when the capture saw it, between
// which addresses, and its UDP payload, which stays in the reader's buffer.
struct CapturedDatagram
{
    qint64 timeNs = 0;              // ns since the Unix epoch (files of µs or ns precision)
    quint32 sourceAddress = 0;      // IPv4, host byte order
    quint16 sourcePort = 0;
    quint32 destinationAddress = 0; // IPv4, host byte order
    quint16 destinationPort = 0;
    const quint8 *payload = nullptr; // the UDP payload; valid until the reader's next call
    int payloadLength = 0;           // clamped to what the record holds
};

#endif // CAPTUREDDATAGRAM_H
