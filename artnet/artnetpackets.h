#ifndef ARTNETPACKETS_H
#define ARTNETPACKETS_H

#include "dmxframe.h"

#include <QByteArray>
#include <QtGlobal>

struct NodeInfo;
struct TimeCodeSource;

// Byte layouts of the Art-Net packets the engine reads and writes, and the functions that write
// and read them (artnetpackets.cpp). Every packet is encoded and decoded byte by byte through
// these offsets; multi-byte fields say their byte order. The functions work on byte buffers
// and know no socket: a writer is given a buffer of the packet's full size and returns the
// number of bytes it wrote; a reader is given the datagram and the number of bytes that arrived,
// and reads no field beyond them.
namespace ArtNetPackets {

constexpr quint16 Port = 6454;
// Port-addresses run from 0 to 32767: Net (bits 14-8), Sub-Net (bits 7-4), Universe (bits 3-0).
constexpr int PortAddressCount = 0x8000;

// Common header of every Art-Net (and MadrixN sync) packet.
namespace Header {
constexpr int Id = 0;         // 8 bytes: "Art-Net" or "MadrixN", then a zero byte
constexpr int IdSize = 8;
constexpr int OpCode = 8;     // 2 bytes, little-endian
constexpr int ProtVerHi = 10;
constexpr int ProtVerLo = 11;
constexpr int Size = 12;      // a datagram must be longer than this to be looked at
} // namespace Header

constexpr char ArtNetId[Header::IdSize] = {'A', 'r', 't', '-', 'N', 'e', 't', '\0'};
constexpr char MadrixId[Header::IdSize] = {'M', 'a', 'd', 'r', 'i', 'x', 'N', '\0'};
constexpr quint8 ProtocolVersionHi = 0;
constexpr quint8 ProtocolVersionLo = 14;

namespace OpCode {
constexpr quint16 Poll = 0x2000;
constexpr quint16 PollReply = 0x2100;
constexpr quint16 Dmx = 0x5000;
constexpr quint16 SyncPre = 0x5101;
constexpr quint16 SyncPost = 0x5202;
constexpr quint16 Sync = 0x5200;    // ArtSync: only counted by the census
constexpr quint16 TimeCode = 0x9700;
} // namespace OpCode

namespace Dmx {
constexpr int Sequence = 12;
constexpr int Physical = 13;
constexpr int SubUni = 14;    // port-address low byte
constexpr int Net = 15;       // port-address high byte
constexpr int LengthHi = 16;  // length, big-endian
constexpr int LengthLo = 17;
constexpr int Data = 18;
constexpr int HeaderSize = 18;
constexpr int MaxChannels = DmxFrame::MaxChannels;
constexpr int MinSendChannels = 2;
constexpr int MaxSize = HeaderSize + MaxChannels; // 530
// A node merging two sources leaves one out after this long without its ArtDmx.
constexpr qint64 MergeTimeoutNs = 10'000'000'000;
} // namespace Dmx

// Sync packets of both families ("Art-Net" and "MadrixN", opcodes 0x5101 and 0x5202).
namespace Sync {
constexpr int Value = 12;     // signed 8-bit sync value
} // namespace Sync

namespace Poll {
constexpr int TalkToMe = 12;
constexpr int Priority = 13;
constexpr int Size = 14;
} // namespace Poll

namespace PollReply {
constexpr int IpAddress = 10;  // 4 bytes, most significant first
constexpr int Port = 14;       // 2 bytes, little-endian
constexpr int VersInfoHi = 16;
constexpr int VersInfoLo = 17;
constexpr int NetSwitch = 18;
constexpr int SubSwitch = 19;
constexpr int OemHi = 20;
constexpr int OemLo = 21;
constexpr int UbeaVersion = 22;
constexpr int Status1 = 23;
constexpr int EstaMan = 24;    // 2 bytes
constexpr int ShortName = 26;
constexpr int ShortNameSize = 18;
constexpr int LongName = 44;
constexpr int LongNameSize = 64;
constexpr int NodeReport = 108;
constexpr int NodeReportSize = 64;
constexpr int NumPortsHi = 172;
constexpr int NumPortsLo = 173;
constexpr int PortTypes = 174; // 4 bytes
constexpr int GoodInput = 178; // 4 bytes
constexpr int GoodOutput = 182; // 4 bytes
constexpr int SwIn = 186;      // 4 bytes
constexpr int SwOut = 190;     // 4 bytes
constexpr int SwVideo = 194;
constexpr int SwMacro = 195;
constexpr int SwRemote = 196;
constexpr int Style = 200;
constexpr int Mac = 201;       // 6 bytes
constexpr int MacSize = 6;
constexpr int BindIp = 207;    // 4 bytes
constexpr int BindIndex = 211;
constexpr int Status2 = 212;
constexpr int Size = 240;
constexpr int MaxPorts = 4;
constexpr quint8 PortTypeValue = 0x85;
constexpr quint8 GoodOutputValue = 0x80;
} // namespace PollReply

namespace TimeCode {
constexpr int Filler1 = 12;
constexpr int Filler2 = 13;
constexpr int Frames = 14;
constexpr int Seconds = 15;
constexpr int Minutes = 16;
constexpr int Hours = 17;
constexpr int Type = 18;
constexpr int Fields = 5;      // Frames to Type
constexpr int Size = 20;
} // namespace TimeCode

// ---------------------------------------------------------------------------------------------
// Writers

// ArtDmx of `length` data bytes (at most Dmx::MaxChannels) to a port-address, Sequence and
// Physical 0. The header alone leaves the data for the caller to fill in place.
int writeArtDmxHeader(uchar *packet, quint16 portAddress, quint16 length);
int writeArtDmx(uchar *packet, quint16 portAddress, const uchar *data, quint16 length);

// ArtPoll asking for nothing but replies to polls (TalkToMe 0), priority 0.
int writeArtPoll(uchar *packet);

// ArtTimeCode of five bytes: Frames, Seconds, Minutes, Hours, Type.
int writeArtTimeCode(uchar *packet, const quint8 *fields);

// What this node says about itself in every ArtPollReply. The names are Latin-1 and are cut to
// their fields, always with a terminating zero.
struct PollReplyNode
{
    quint32 ip = 0;                  // host byte order
    quint8 versionHi = 0;
    quint8 versionLo = 0;
    quint8 oemHi = 0;
    quint8 oemLo = 0;
    QByteArray shortName;
    QByteArray longName;
    QByteArray nodeReport;
    quint8 mac[PollReply::MacSize] = {};
};

// One ArtPollReply page: `ports` output ports (at most PollReply::MaxPorts) from the 15-bit
// port-address `firstPortAddress` on, as page `bindIndex`.
int writeArtPollReply(uchar *packet, const PollReplyNode &node, uint firstPortAddress, uint ports,
                      quint8 bindIndex);

// ---------------------------------------------------------------------------------------------
// Readers

quint16 readOpCode(const uchar *datagram, qsizetype size); // 0 when cut inside it

// The Length field of an ArtDmx; 0 when the datagram is cut inside its header.
quint16 dmxLengthField(const uchar *datagram, qsizetype size);
// An ArtDmx that holds its whole header and as many data bytes as its Length field says.
bool isWholeArtDmx(qsizetype size, quint16 lengthField);
bool isWholeArtDmx(const uchar *datagram, qsizetype size);
// An ArtDmx (identifier and opcode already checked) from an IPv4 sender, decoded once for
// everything that takes its levels. A datagram cut anywhere after the opcode, or carrying fewer
// data bytes than its Length claims, gives a malformed frame; one cut before Net names no
// universe. The frame's levels point into the datagram; its arrival time and the source's CID
// (no Art-Net field) are left as they were.
void readArtDmx(const uchar *datagram, qsizetype size, quint32 sender, DmxFrame *frame);
// Of a whole ArtDmx: its port-address (Net << 8 | SubUni), and its Length cut to what one
// universe holds.
quint16 dmxPortAddress(const uchar *datagram);
uint dmxClampedLength(const uchar *datagram);

// The five time code fields; those that did not arrive read as zero.
void readArtTimeCode(const uchar *datagram, qsizetype size, TimeCodeSource *timeCode);

// The port-address of one port byte of an ArtPollReply: Net (bits 14-8) and Sub-Net (bits 7-4)
// from the switches, the universe from the low nibble of the port's byte.
quint16 pollReplyPortAddress(quint8 netSwitch, quint8 subSwitch, quint8 port);
quint8 readPollReplyBindIndex(const uchar *datagram, qsizetype size); // 0 when it did not arrive
// Every field of an ArtPollReply that describes the node; fields that did not arrive read as
// zero. The fields the packet does not carry (source address, times) are left as they were.
void readArtPollReply(const uchar *datagram, qsizetype size, NodeInfo *node);

} // namespace ArtNetPackets

#endif // ARTNETPACKETS_H
