#ifndef DMXSOURCE_H
#define DMXSOURCE_H

#include "intervalstats.h"
#include "sourceidentity.h"

#include <QtGlobal>

#include <array>

// One sender of DMX data for one universe, as the census last saw it. An Art-Net source is one
// sender IPv4 address together with the packet's Physical byte; an sACN source is its CID. Times
// are milliseconds on the census's clock (artnet::censusClockMs()).
struct DmxSource
{
    DmxProtocol protocol = DmxProtocol::ArtNet;
    quint32 address = 0;         // sender IPv4, host byte order
    quint8 physical = 0;         // Art-Net
    std::array<quint8, SourceIdentity::CidSize> cid = {}; // sACN
    quint8 priority = 0;         // sACN, of its last packet
    qint64 firstSeenMs = 0;
    qint64 lastSeenMs = 0;
    quint64 packets = 0;
    double rateHz = 0;           // packets over the last second
    quint16 lastLength = 0;      // the Length field of its last packet
    quint32 sequenceGaps = 0;    // a packet that skipped ahead of the successor
    quint32 sequenceOutOfOrder = 0; // a packet behind the previous one
    bool sendsSync = false;      // the same sender address also sends ArtSync
    quint64 malformed = 0;       // DMX packets from this sender address passed over as malformed
    bool live = false;           // last packet less than 4 s (Art-Net), 2.5 s (sACN) old
    IntervalStats health;        // how evenly it sends
    // The last silence of a second or more: when it ended and how long it lasted (-1: none).
    qint64 silenceEndMs = -1;
    qint64 silenceMs = 0;
    qint64 lastStutterMs = 0;    // the interval of its latest stutter
};

#endif // DMXSOURCE_H
