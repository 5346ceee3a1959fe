#include "trafficcensus.h"
#include "artnetpackets.h"

bool TrafficCensus::isMalformedArtDmx(int datagramSize, quint16 lengthField)
{
    return !ArtNetPackets::isWholeArtDmx(datagramSize, lengthField);
}

void TrafficCensus::recordDmx(const uchar *datagram, int size, quint32 sender, qint64 nowMs)
{
    DmxFrame frame;
    ArtNetPackets::readArtDmx(datagram, size, sender, &frame);
    recordFrame(frame, nowMs);
}
