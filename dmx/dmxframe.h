#ifndef DMXFRAME_H
#define DMXFRAME_H

#include "sourceidentity.h"

#include <QtGlobal>

// The number that names a universe on the wire, together with the protocol that carries it:
// an Art-Net port-address (0-32767, as the packet's two bytes read) and an sACN universe
// (1-63999) are different universes even when their numbers agree.
struct UniverseKey
{
    DmxProtocol protocol = DmxProtocol::ArtNet;
    quint16 number = 0;

    friend bool operator==(const UniverseKey &a, const UniverseKey &b)
    {
        return a.protocol == b.protocol && a.number == b.number;
    }
    friend bool operator!=(const UniverseKey &a, const UniverseKey &b) { return !(a == b); }
};

// One DMX data packet as a protocol reader decoded it from a datagram, handed on to everything
// that takes received levels (the receive buffer, the frame history, the sinks and the census)
// so that none of them reads the datagram again. The levels point into the datagram: a frame
// is valid only while the datagram it was read from is.
struct DmxFrame
{
    static constexpr int MaxChannels = 512;

    UniverseKey universe;
    SourceIdentity source;
    quint8 sequence = 0;         // 0: the sender does not number its packets
    quint8 priority = 0;         // sACN's 0-200; Art-Net carries none
    const uchar *levels = nullptr;
    quint16 count = 0;           // levels that arrived and are used, at most MaxChannels
    quint16 lengthField = 0;     // the count the packet claims, before it was cut to a universe
    qint64 arrivalNs = -1;       // on the monotonic clock; -1 when not known
    // A packet cut short or claiming more levels than it carries is malformed: its levels are
    // not to be used. One cut before its universe names none.
    bool malformed = false;
    bool universeKnown = false;
};

#endif // DMXFRAME_H
