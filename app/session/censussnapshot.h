#ifndef CENSUSSNAPSHOT_H
#define CENSUSSNAPSHOT_H

#include "nodeinfo.h"
#include "sacnsourceinfo.h"
#include "timecodesource.h"
#include "universetraffic.h"

#include <QList>
#include <QtGlobal>

// What the network carried, as of one moment of the census clock: copies that a view may keep
// while the census goes on counting.
struct CensusSnapshot
{
    QList<UniverseTraffic> universes; // Art-Net by port-address, then sACN by universe
    QList<SacnSourceInfo> sacnSources; // live sACN sources, by universe
    QList<quint16> sacnDiscovered;    // sACN universes announced in universe discovery
    QList<NodeInfo> nodes;            // by source address, then BindIndex
    QList<TimeCodeSource> timeCode;
    quint64 unstoredSources = 0;      // senders beyond the census's bounds, counted once each
    quint64 unlistedUniverses = 0;    // universes beyond its bound, counted once each
    quint64 unstoredNodes = 0;        // node replies beyond the node table's bound
    quint64 malformedWithoutSource = 0; // malformed ArtDmx from senders no source row shows
    quint64 sacnMalformed = 0;        // sACN datagrams passed over as malformed
    // The census clock at the moment of the copies; every time above is on this clock.
    qint64 nowMs = 0;
};

#endif // CENSUSSNAPSHOT_H
