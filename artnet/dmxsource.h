#ifndef DMXSOURCE_H
#define DMXSOURCE_H

#include <QtGlobal>

// One sender of ArtDmx for one port-address, as the engine's census last saw it. A source is
// one sender IPv4 address together with the packet's Physical byte. Times are milliseconds on
// the engine's census clock (artnet::censusClockMs()).
struct DmxSource
{
    quint32 address = 0;         // sender IPv4, host byte order
    quint8 physical = 0;
    qint64 firstSeenMs = 0;
    qint64 lastSeenMs = 0;
    quint64 packets = 0;
    double rateHz = 0;           // packets over the last second
    quint16 lastLength = 0;      // the Length field of its last packet
    quint32 sequenceGaps = 0;    // a packet that skipped ahead of the successor
    quint32 sequenceOutOfOrder = 0; // a packet behind the previous one
    bool sendsSync = false;      // the same sender address also sends ArtSync
    quint64 malformed = 0;       // ArtDmx from this sender address passed over as malformed
    bool live = false;           // last packet less than 4 s old
};

#endif // DMXSOURCE_H
