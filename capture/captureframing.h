#ifndef CAPTUREFRAMING_H
#define CAPTUREFRAMING_H

#include "captureddatagram.h"

#include <QString>
#include <QtGlobal>

// Byte layouts of the headers a captured record carries in front of a datagram, from the link
// layer down to UDP. Multi-byte fields are big-endian (network order) unless said otherwise.
namespace EthernetLayout {
constexpr int Destination = 0;      // 6 bytes
constexpr int Source = 6;           // 6 bytes
constexpr int EtherType = 12;       // 2 bytes
constexpr int Size = 14;
} // namespace EthernetLayout

// An 802.1Q (or 802.1ad) tag stands where the EtherType was; the next EtherType follows it.
namespace VlanTagLayout {
constexpr int TagProtocol = 0;      // 2 bytes: 0x8100 or 0x88A8, read as the EtherType
constexpr int TagControl = 2;       // 2 bytes: priority and VLAN number
constexpr int Size = 4;
constexpr quint16 CustomerTag = 0x8100;
constexpr quint16 ServiceTag = 0x88A8;
constexpr int MaximumTags = 2;
} // namespace VlanTagLayout

// Linux "cooked" capture (the "any" device), version 1.
namespace LinuxCookedLayout {
constexpr int PacketType = 0;       // 2 bytes
constexpr int AddressType = 2;      // 2 bytes
constexpr int AddressLength = 4;    // 2 bytes
constexpr int Address = 6;          // 8 bytes
constexpr int Protocol = 14;        // 2 bytes: the EtherType
constexpr int Size = 16;
} // namespace LinuxCookedLayout

// Linux "cooked" capture, version 2.
namespace LinuxCooked2Layout {
constexpr int Protocol = 0;         // 2 bytes: the EtherType
constexpr int Reserved = 2;         // 2 bytes
constexpr int InterfaceIndex = 4;   // 4 bytes
constexpr int AddressType = 8;      // 2 bytes
constexpr int PacketType = 10;
constexpr int AddressLength = 11;
constexpr int Address = 12;         // 8 bytes
constexpr int Size = 20;
} // namespace LinuxCooked2Layout

// BSD loopback: the address family in the byte order of the machine that wrote the file.
namespace BsdLoopbackLayout {
constexpr int Family = 0;           // 4 bytes
constexpr int Size = 4;
constexpr quint32 FamilyInet = 2;   // AF_INET, the same on every system
} // namespace BsdLoopbackLayout

namespace Ipv4Layout {
constexpr int VersionAndHeaderLength = 0; // high nibble 4, low nibble the length in 32-bit words
constexpr int TypeOfService = 1;
constexpr int TotalLength = 2;      // 2 bytes: header and payload
constexpr int Identification = 4;   // 2 bytes
constexpr int FlagsAndFragmentOffset = 6; // 2 bytes
constexpr int TimeToLive = 8;
constexpr int Protocol = 9;
constexpr int HeaderChecksum = 10;  // 2 bytes
constexpr int Source = 12;          // 4 bytes
constexpr int Destination = 16;     // 4 bytes
constexpr int MinimumSize = 20;
constexpr quint8 Version = 4;
constexpr quint8 MinimumHeaderWords = 5;
constexpr quint16 MoreFragmentsFlag = 0x2000;
constexpr quint16 FragmentOffsetMask = 0x1FFF;
constexpr quint8 ProtocolUdp = 17;
constexpr quint16 EtherType = 0x0800;
} // namespace Ipv4Layout

namespace UdpLayout {
constexpr int SourcePort = 0;       // 2 bytes
constexpr int DestinationPort = 2;  // 2 bytes
constexpr int Length = 4;           // 2 bytes: header and payload
constexpr int Checksum = 6;         // 2 bytes
constexpr int Size = 8;
} // namespace UdpLayout

// Finds the Art-Net or sACN datagram in one captured record, without copying: from the link
// layer's header through IPv4 to UDP. No IPv4 reassembly: lighting datagrams are far below any
// link's MTU, so a fragment is passed over.
class CaptureFraming
{
public:
    enum class LinkLayer { Ethernet, LinuxCooked, LinuxCooked2, RawIp, Ipv4, BsdLoopback };

    // What a record turned out to be; everything but Datagram is passed over.
    enum class Verdict { Datagram, NotIpv4, NotUdp, OtherPorts, Fragment, Malformed };

    static constexpr quint16 ArtNetPort = 6454;
    static constexpr quint16 SacnPort = 5568;

    // The link layer of a libpcap DLT_ value; false for one this reader does not know.
    static bool linkLayerOf(int dataLinkType, LinkLayer *linkLayer);
    static QString linkLayerName(LinkLayer linkLayer);

    // capturedLength: the bytes the record holds; wireLength: the packet's length on the
    // network (more when the capture's snapshot length cut it). Fills datagram's addresses,
    // ports and payload (pointing into record) for a Datagram, and leaves its time alone.
    static Verdict frame(LinkLayer linkLayer, const quint8 *record, int capturedLength,
                         int wireLength, CapturedDatagram *datagram);

private:
    static Verdict frameIpv4(const quint8 *packet, int capturedLength, int wireLength,
                             CapturedDatagram *datagram);
    static Verdict frameUdp(const quint8 *segment, int available, int ipPayloadLength,
                            CapturedDatagram *datagram);
    // The offset of the network-layer packet after an EtherType at offset, past any VLAN tags;
    // -1 when it is not IPv4, -2 when the record ends first.
    static int ipv4AfterEtherType(const quint8 *record, int capturedLength, int offset);
};

#endif // CAPTUREFRAMING_H
