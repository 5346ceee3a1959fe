#include "testpackets.h"

#include <cstring>

namespace TestPackets {

namespace {

// Offsets of the fields, as the protocol lays them out.
constexpr int Id = 0;             // seven characters and a zero byte
constexpr int OpCodeLo = 8;       // little-endian
constexpr int OpCodeHi = 9;
constexpr int ProtVerHi = 10;
constexpr int ProtVerLo = 11;
constexpr int DmxSequence = 12;
constexpr int DmxPhysical = 13;
constexpr int DmxSubUni = 14;     // port-address low byte
constexpr int DmxNet = 15;        // port-address high byte
constexpr int DmxLengthHi = 16;   // big-endian
constexpr int DmxLengthLo = 17;
constexpr int PollFlags = 12;
constexpr int PollDiagPriority = 13;

} // namespace

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(value));
    return result;
}

void writeHeader(uchar *packet, quint16 opCode, const char *id)
{
    std::memcpy(packet + Id, id, 7);
    packet[Id + 7] = 0;
    packet[OpCodeLo] = quint8(opCode & 0xFF);
    packet[OpCodeHi] = quint8(opCode >> 8);
    packet[ProtVerHi] = 0;
    packet[ProtVerLo] = 14;
}

QByteArray header(quint16 opCode, const char *id)
{
    QByteArray packet(HeaderSize, '\0');
    writeHeader(reinterpret_cast<uchar *>(packet.data()), opCode, id);
    return packet;
}

void writeArtDmxHeader(uchar *packet, quint16 portAddress, quint16 length, quint8 sequence)
{
    writeHeader(packet, 0x5000);
    packet[DmxSequence] = sequence;
    packet[DmxPhysical] = 0;
    packet[DmxSubUni] = quint8(portAddress & 0xFF);
    packet[DmxNet] = quint8(portAddress >> 8);
    packet[DmxLengthHi] = quint8(length >> 8);
    packet[DmxLengthLo] = quint8(length & 0xFF);
}

QByteArray artDmxClaiming(quint16 portAddress, quint16 length, const QByteArray &data)
{
    QByteArray packet(ArtDmxHeaderSize, '\0');
    writeArtDmxHeader(reinterpret_cast<uchar *>(packet.data()), portAddress, length);
    return packet + data;
}

QByteArray artDmx(quint16 portAddress, const QByteArray &levels, quint8 sequence)
{
    QByteArray packet = artDmxClaiming(portAddress, quint16(levels.size()), levels);
    packet[DmxSequence] = char(sequence);
    return packet;
}

QByteArray artPoll(quint8 flags)
{
    QByteArray packet = header(0x2000);
    packet += char(0);
    packet += char(0);
    packet[PollFlags] = char(flags);
    packet[PollDiagPriority] = 0;
    return packet;
}

} // namespace TestPackets
