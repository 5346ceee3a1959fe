#ifndef TESTPACKETS_H
#define TESTPACKETS_H

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <initializer_list>

// Art-Net packets as consoles and controllers send them, written here byte by byte from the
// protocol's layout and never through the program's own writers: the tests, benchmarks and
// fuzzers feed them to the engine, and where they are compared with what the engine sends,
// that comparison stays a check of the engine.
namespace TestPackets {

constexpr int HeaderSize = 12;       // ID, OpCode, ProtVerHi, ProtVerLo
constexpr int ArtDmxHeaderSize = 18; // then the data
constexpr int ArtPollSize = 14;
constexpr int ArtSyncSize = 14;
constexpr int ArtTimeCodeSize = 20;
constexpr int ArtPollReplySize = 239; // up to the Filler that ends it

// The bytes given, each taken as one byte.
QByteArray bytes(std::initializer_list<int> values);

// ID (seven characters and a zero byte: "Art-Net" or another program's "MadrixN"), OpCode
// low byte first, protocol version 14.
QByteArray header(quint16 opCode, const char *id = "Art-Net");
void writeHeader(uchar *packet, quint16 opCode, const char *id = "Art-Net");

// The 18 bytes before the data of an ArtDmx whose Length field says length. Physical is the
// sender's input port, which tells two sources at one address apart.
void writeArtDmxHeader(uchar *packet, quint16 portAddress, quint16 length, quint8 sequence = 0,
                       quint8 physical = 0);

// An ArtDmx carrying levels, its Length field their count.
QByteArray artDmx(quint16 portAddress, const QByteArray &levels, quint8 sequence = 0,
                  quint8 physical = 0);
// An ArtDmx whose Length field says length whatever data it carries (cut or padded packets).
QByteArray artDmxClaiming(quint16 portAddress, quint16 length, const QByteArray &data,
                          quint8 sequence = 0, quint8 physical = 0);

// An ArtPoll with the given Flags byte (0x02: send a reply whenever something changes) and
// DiagPriority 0.
QByteArray artPoll(quint8 flags);

// An ArtSync: OpSync and its two Aux bytes, zero.
QByteArray artSync();

// An ArtTimeCode, its fields in the order the packet carries them: frames, seconds, minutes,
// hours, then the type (0 Film 24, 1 EBU 25, 2 DF 29.97, 3 SMPTE 30).
QByteArray artTimeCode(quint8 frames, quint8 seconds, quint8 minutes, quint8 hours, quint8 type);

// One port of a node's ArtPollReply: the index into its four-entry arrays is its place in
// PollReply::ports.
struct PollReplyPort
{
    quint8 type = 0x80;       // PortTypes: bit 7 output, bit 6 input, low bits the protocol
    quint8 goodInput = 0;
    quint8 goodOutput = 0x80; // bit 7: data being sent
    quint8 swIn = 0;          // low nibble of the input's port-address
    quint8 swOut = 0;         // low nibble of the output's port-address
};

// What an ArtPollReply says about a node; every field that is not here is zero.
struct PollReply
{
    quint32 ip = 0;             // the address the reply states, host order
    quint8 versionHi = 0;       // VersInfoH, VersInfoL: the firmware
    quint8 versionLo = 0;
    quint8 netSwitch = 0;       // bits 14-8 of every port's port-address
    quint8 subSwitch = 0;       // bits 7-4
    QByteArray shortName;       // cut to 17 characters and a zero byte
    QByteArray longName;        // cut to 63 and a zero byte
    QByteArray nodeReport;      // cut to 63 and a zero byte
    QList<PollReplyPort> ports; // NumPorts; at most four are written
    quint8 style = 0;
    quint8 mac[6] = {};
    quint8 bindIndex = 1;       // 1 for the first page of a node with many ports
    int size = ArtPollReplySize; // shorter for a node of an older protocol revision
};

QByteArray artPollReply(const PollReply &node);

// The reply of a node with one output port that sends portAddress, firmware 1.4, the MAC
// 02:00:00:00:00 and ip's last byte.
QByteArray artPollReply(quint32 ip, const QByteArray &shortName, quint16 portAddress);

// sACN (ANSI E1.31) packets, each layer appended in the order the standard lays it out, with
// every flags-and-length field (0x7 and twelve bits) covering its layer to the packet's end.
struct SacnData
{
    QByteArray cid = QByteArray(16, '\x5C');
    QByteArray sourceName = "Test Console"; // its 64-byte field, zero-padded; cut at 64 bytes
    quint8 priority = 100;
    quint16 syncAddress = 0;
    quint8 sequence = 0;
    quint8 options = 0;        // 0x80 preview, 0x40 stream terminated, 0x20 force sync
    quint16 universe = 1;
    quint8 startCode = 0;
    QByteArray values;         // the slots after the start code
};
QByteArray sacnData(const SacnData &packet);
QByteArray sacnSync(const QByteArray &cid, quint8 sequence, quint16 syncAddress);
QByteArray sacnDiscovery(const QByteArray &cid, const QByteArray &sourceName, quint8 page,
                         quint8 lastPage, const QList<quint16> &universes);

} // namespace TestPackets

#endif // TESTPACKETS_H
