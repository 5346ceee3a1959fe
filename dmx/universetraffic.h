#ifndef UNIVERSETRAFFIC_H
#define UNIVERSETRAFFIC_H

#include "sourceidentity.h"

#include <QtGlobal>

// The DMX traffic of one universe, summed over its sources.
struct UniverseTraffic
{
    DmxProtocol protocol = DmxProtocol::ArtNet;
    // The universe's number in its protocol: for Art-Net the port-address, whose universe
    // number as the spin box shows it is portAddress + 1.
    quint16 portAddress = 0;
    int sources = 0;             // sources stored for it
    int liveSources = 0;
    quint32 moreSources = 0;     // sources seen beyond the per-universe bound, not stored
    double rateHz = 0;           // total over its live sources
    quint32 sequenceErrors = 0;  // gaps plus out-of-order packets of all its sources
    qint64 lastSeenMs = 0;
    bool conflict() const { return liveSources >= 2; }
};

#endif // UNIVERSETRAFFIC_H
