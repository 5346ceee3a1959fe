#include "captureframing.h"

#include <pcap/pcap.h>

namespace {

quint16 read16(const quint8 *bytes)
{
    return quint16((quint16(bytes[0]) << 8) | bytes[1]);
}

quint32 read32(const quint8 *bytes)
{
    return (quint32(bytes[0]) << 24) | (quint32(bytes[1]) << 16) | (quint32(bytes[2]) << 8)
        | bytes[3];
}

bool isLightingPort(quint16 port)
{
    return port == CaptureFraming::ArtNetPort || port == CaptureFraming::SacnPort;
}

} // namespace

bool CaptureFraming::linkLayerOf(int dataLinkType, LinkLayer *linkLayer)
{
    switch (dataLinkType) {
    case DLT_EN10MB: *linkLayer = LinkLayer::Ethernet; return true;
    case DLT_LINUX_SLL: *linkLayer = LinkLayer::LinuxCooked; return true;
    case DLT_LINUX_SLL2: *linkLayer = LinkLayer::LinuxCooked2; return true;
    case DLT_RAW: *linkLayer = LinkLayer::RawIp; return true;
    case DLT_IPV4: *linkLayer = LinkLayer::Ipv4; return true;
    case DLT_NULL: *linkLayer = LinkLayer::BsdLoopback; return true;
    default: return false;
    }
}

QString CaptureFraming::linkLayerName(LinkLayer linkLayer)
{
    switch (linkLayer) {
    case LinkLayer::Ethernet: return QStringLiteral("Ethernet");
    case LinkLayer::LinuxCooked: return QStringLiteral("Linux cooked");
    case LinkLayer::LinuxCooked2: return QStringLiteral("Linux cooked v2");
    case LinkLayer::RawIp: return QStringLiteral("Raw IP");
    case LinkLayer::Ipv4: return QStringLiteral("IPv4");
    case LinkLayer::BsdLoopback: return QStringLiteral("BSD loopback");
    }
    return QString();
}

int CaptureFraming::ipv4AfterEtherType(const quint8 *record, int capturedLength, int offset)
{
    for (int tags = 0; tags <= VlanTagLayout::MaximumTags; ++tags) {
        if (capturedLength - offset < 2)
            return -2;
        const quint16 etherType = read16(record + offset);
        if (etherType == Ipv4Layout::EtherType)
            return offset + 2;
        if (etherType != VlanTagLayout::CustomerTag && etherType != VlanTagLayout::ServiceTag)
            return -1;
        offset += VlanTagLayout::Size;
    }
    return -1;
}

CaptureFraming::Verdict CaptureFraming::frame(LinkLayer linkLayer, const quint8 *record,
                                              int capturedLength, int wireLength,
                                              CapturedDatagram *datagram)
{
    int network = 0;
    switch (linkLayer) {
    case LinkLayer::Ethernet:
        network = ipv4AfterEtherType(record, capturedLength, EthernetLayout::EtherType);
        break;
    case LinkLayer::LinuxCooked:
        network = ipv4AfterEtherType(record, capturedLength, LinuxCookedLayout::Protocol);
        break;
    case LinkLayer::LinuxCooked2:
        // The protocol comes first, the rest of the header after it.
        if (capturedLength < LinuxCooked2Layout::Size)
            return Verdict::Malformed;
        network = read16(record + LinuxCooked2Layout::Protocol) == Ipv4Layout::EtherType
            ? LinuxCooked2Layout::Size : -1;
        break;
    case LinkLayer::BsdLoopback: {
        if (capturedLength < BsdLoopbackLayout::Size)
            return Verdict::Malformed;
        const quint32 family = read32(record + BsdLoopbackLayout::Family);
        const bool inet = family == BsdLoopbackLayout::FamilyInet
            || family == (BsdLoopbackLayout::FamilyInet << 24);
        network = inet ? BsdLoopbackLayout::Size : -1;
        break;
    }
    case LinkLayer::RawIp:
    case LinkLayer::Ipv4:
        network = 0;
        break;
    }
    if (network == -2)
        return Verdict::Malformed;
    if (network < 0)
        return Verdict::NotIpv4;
    return frameIpv4(record + network, capturedLength - network, wireLength - network, datagram);
}

CaptureFraming::Verdict CaptureFraming::frameIpv4(const quint8 *packet, int capturedLength,
                                                  int wireLength, CapturedDatagram *datagram)
{
    if (capturedLength < 1)
        return Verdict::Malformed;
    const quint8 versionAndLength = packet[Ipv4Layout::VersionAndHeaderLength];
    if ((versionAndLength >> 4) != Ipv4Layout::Version)
        return Verdict::NotIpv4;
    const int headerLength = (versionAndLength & 0x0F) * 4;
    if (capturedLength < Ipv4Layout::MinimumSize || headerLength < Ipv4Layout::MinimumSize
        || headerLength > capturedLength)
        return Verdict::Malformed;
    const int totalLength = read16(packet + Ipv4Layout::TotalLength);
    // A record the snapshot length cut may hold less than the total length says, never more
    // than the packet (Ethernet pads short frames: the padding is no payload).
    const bool cutBySnapshot = wireLength > capturedLength;
    if (totalLength < headerLength || (!cutBySnapshot && totalLength > capturedLength))
        return Verdict::Malformed;
    if (packet[Ipv4Layout::Protocol] != Ipv4Layout::ProtocolUdp)
        return Verdict::NotUdp;
    const quint16 fragment = read16(packet + Ipv4Layout::FlagsAndFragmentOffset);
    if ((fragment & Ipv4Layout::MoreFragmentsFlag) || (fragment & Ipv4Layout::FragmentOffsetMask))
        return Verdict::Fragment;
    datagram->sourceAddress = read32(packet + Ipv4Layout::Source);
    datagram->destinationAddress = read32(packet + Ipv4Layout::Destination);
    const int available = qMin(totalLength, capturedLength) - headerLength;
    return frameUdp(packet + headerLength, available, totalLength - headerLength, datagram);
}

CaptureFraming::Verdict CaptureFraming::frameUdp(const quint8 *segment, int available,
                                                 int ipPayloadLength, CapturedDatagram *datagram)
{
    if (available < UdpLayout::Size)
        return Verdict::Malformed;
    const int udpLength = read16(segment + UdpLayout::Length);
    if (udpLength < UdpLayout::Size || udpLength > ipPayloadLength)
        return Verdict::Malformed;
    const quint16 sourcePort = read16(segment + UdpLayout::SourcePort);
    const quint16 destinationPort = read16(segment + UdpLayout::DestinationPort);
    if (!isLightingPort(sourcePort) && !isLightingPort(destinationPort))
        return Verdict::OtherPorts;
    datagram->sourcePort = sourcePort;
    datagram->destinationPort = destinationPort;
    datagram->payload = segment + UdpLayout::Size;
    datagram->payloadLength = qMin(udpLength, available) - UdpLayout::Size;
    return Verdict::Datagram;
}
