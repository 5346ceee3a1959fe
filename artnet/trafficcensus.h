#ifndef TRAFFICCENSUS_H
#define TRAFFICCENSUS_H

#include "dmxcensus.h"

// The census as Art-Net feeds it: ArtDmx datagrams from IPv4 senders, universes by
// port-address. Each datagram is decoded once, into the frame the census counts.
class TrafficCensus : public DmxCensus
{
public:
    // An ArtDmx cut inside its header, or whose Length claims more data than the datagram
    // carries: the receiver passes it over.
    static bool isMalformedArtDmx(int datagramSize, quint16 lengthField);

    // One ArtDmx datagram (identifier and opcode already checked) from an IPv4 sender; one cut
    // anywhere after its opcode counts as malformed against the sender.
    void recordDmx(const uchar *datagram, int size, quint32 sender, qint64 nowMs);

    using DmxCensus::sources;
    QList<DmxSource> sources(quint16 portAddress, qint64 nowMs) const
    {
        return DmxCensus::sources(UniverseKey{DmxProtocol::ArtNet, portAddress}, nowMs);
    }
};

#endif // TRAFFICCENSUS_H
