#ifndef SACNPACKETS_H
#define SACNPACKETS_H

#include "sacnmessage.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>

// Byte layouts of the sACN (ANSI E1.31) packets, and the functions that write and read them on
// byte buffers (sacnpackets.cpp). Each layer is a PDU: two bytes of flags (high nibble 0x7) and
// length (low twelve bits, counted from the PDU's first byte to the datagram's end), then its
// vector. Multi-byte fields are big-endian. A reader is given the datagram and the number of
// bytes that arrived, and reads no field beyond them.
namespace SacnPackets {

constexpr quint16 Port = 5568;
constexpr quint16 MinUniverse = 1;
constexpr quint16 MaxUniverse = 63999;
constexpr quint16 DiscoveryUniverse = 64214;

namespace Root {
constexpr int PreambleSize = 0;     // 2 bytes: 0x0010
constexpr int PostambleSize = 2;    // 2 bytes: 0
constexpr int Identifier = 4;       // 12 bytes: "ASC-E1.17" and three zero bytes
constexpr int IdentifierSize = 12;
constexpr int FlagsLength = 16;
constexpr int Vector = 18;          // 4 bytes
constexpr int Cid = 22;             // 16 bytes
constexpr int Size = 38;
constexpr quint16 PreambleSizeValue = 0x0010;
constexpr quint32 VectorData = 0x00000004;
constexpr quint32 VectorExtended = 0x00000008;
} // namespace Root

constexpr char AcnIdentifier[Root::IdentifierSize] = {'A', 'S', 'C', '-', 'E', '1', '.', '1', '7',
                                                      '\0', '\0', '\0'};
constexpr quint8 PduFlags = 0x70;   // in the high byte of every flags-and-length field
constexpr int PduLengthMask = 0x0FFF;

// Framing layer of a data packet (root vector 0x04).
namespace DataFraming {
constexpr int FlagsLength = 38;
constexpr int Vector = 40;          // 4 bytes
constexpr int SourceName = 44;      // 64 bytes, UTF-8, zero-terminated
constexpr int Priority = 108;
constexpr int SyncAddress = 109;    // 2 bytes
constexpr int Sequence = 111;
constexpr int Options = 112;
constexpr int Universe = 113;       // 2 bytes
constexpr int Size = 115;
constexpr quint32 VectorValue = 0x00000002;
} // namespace DataFraming

// DMP layer of a data packet.
namespace Dmp {
constexpr int FlagsLength = 115;
constexpr int Vector = 117;
constexpr int AddressDataType = 118;
constexpr int FirstAddress = 119;   // 2 bytes
constexpr int AddressIncrement = 121; // 2 bytes
constexpr int PropertyCount = 123;  // 2 bytes: the start code and the slots
constexpr int StartCode = 125;
constexpr int Slots = 126;
constexpr int HeaderSize = 125;
constexpr quint8 VectorValue = 0x02;
constexpr quint8 AddressDataTypeValue = 0xA1;
constexpr quint16 FirstAddressValue = 0;
constexpr quint16 AddressIncrementValue = 1;
constexpr int MaxPropertyCount = 513;
constexpr int MaxSize = HeaderSize + MaxPropertyCount; // 638
} // namespace Dmp

// Framing layer of a synchronisation packet (root vector 0x08).
namespace SyncFraming {
constexpr int FlagsLength = 38;
constexpr int Vector = 40;          // 4 bytes
constexpr int Sequence = 44;
constexpr int SyncAddress = 45;     // 2 bytes
constexpr int Reserved = 47;        // 2 bytes
constexpr int Size = 49;
constexpr quint32 VectorValue = 0x00000001;
} // namespace SyncFraming

// Framing and discovery layers of a universe discovery packet (root vector 0x08).
namespace DiscoveryFraming {
constexpr int FlagsLength = 38;
constexpr int Vector = 40;          // 4 bytes
constexpr int SourceName = 44;      // 64 bytes
constexpr int Reserved = 108;       // 4 bytes
constexpr int Size = 112;
constexpr quint32 VectorValue = 0x00000002;
} // namespace DiscoveryFraming

namespace Discovery {
constexpr int FlagsLength = 112;
constexpr int Vector = 114;         // 4 bytes
constexpr int Page = 118;
constexpr int LastPage = 119;
constexpr int Universes = 120;      // 2 bytes each, ascending
constexpr int HeaderSize = 120;
constexpr quint32 VectorValue = 0x00000001;
constexpr int MaxSize = HeaderSize + 2 * SacnMessage::MaxDiscoveryUniverses; // 1144
} // namespace Discovery

using Cid = std::array<quint8, SourceIdentity::CidSize>;

// ---------------------------------------------------------------------------------------------
// Writers

// What a data packet of this program says besides its levels.
struct DataHeader
{
    Cid cid = {};
    QByteArray sourceName;   // UTF-8; cut to 63 bytes, always with a terminating zero
    quint8 priority = 100;
    quint16 syncAddress = 0;
    quint8 sequence = 0;
    quint8 options = 0;
    quint16 universe = 1;
};

// A data packet with start code 0 and `count` levels (at most 512) into a buffer of at least
// Dmp::MaxSize bytes; returns its size.
int writeDataPacket(uchar *packet, const DataHeader &header, const uchar *levels, quint16 count);
// The same packet with the stream-terminated option set, as a source sends it when it stops.
int writeStreamTerminated(uchar *packet, const DataHeader &header, const uchar *levels,
                          quint16 count);

// ---------------------------------------------------------------------------------------------
// Readers

// Decodes any datagram that arrived on the sACN port from an IPv4 sender (host byte order)
// into *message, once: a data packet's frame gets the arrival time given. Every check of a
// layer is made before any of its fields is read; a datagram that fails one is a malformed
// message naming the failed layer.
void readDatagram(const uchar *datagram, qsizetype size, quint32 sender, qint64 arrivalNs,
                  SacnMessage *message);

// A source name as text: the bytes decoded as UTF-8, invalid sequences replaced. It is text,
// never markup, wherever it is shown.
QString sourceNameText(const SacnMessage &message);

// E1.31's rule for data packets: one whose sequence number is 0 to 19 behind the last one
// taken from its source (a signed 8-bit difference d with -20 < d <= 0) is out of order.
constexpr bool isOutOfOrder(quint8 last, quint8 received)
{
    const int difference = qint8(quint8(received - last));
    return difference <= 0 && difference > -20;
}

} // namespace SacnPackets

#endif // SACNPACKETS_H
