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
constexpr int SyncAux1 = 12;
constexpr int SyncAux2 = 13;
constexpr int TimeCodeFiller1 = 12;
constexpr int TimeCodeStreamId = 13;
constexpr int TimeCodeFrames = 14;
constexpr int TimeCodeSeconds = 15;
constexpr int TimeCodeMinutes = 16;
constexpr int TimeCodeHours = 17;
constexpr int TimeCodeType = 18;
constexpr int ReplyIp = 10;          // four bytes, most significant first
constexpr int ReplyPortLo = 14;      // always 6454, low byte first
constexpr int ReplyPortHi = 15;
constexpr int ReplyVersInfoHi = 16;
constexpr int ReplyVersInfoLo = 17;
constexpr int ReplyNetSwitch = 18;
constexpr int ReplySubSwitch = 19;
constexpr int ReplyShortName = 26;   // 18 bytes
constexpr int ReplyLongName = 44;    // 64 bytes
constexpr int ReplyNodeReport = 108; // 64 bytes
constexpr int ReplyNumPortsHi = 172;
constexpr int ReplyNumPortsLo = 173;
constexpr int ReplyPortTypes = 174;  // four bytes each, one per port
constexpr int ReplyGoodInput = 178;
constexpr int ReplyGoodOutput = 182;
constexpr int ReplySwIn = 186;
constexpr int ReplySwOut = 190;
constexpr int ReplyStyle = 200;
constexpr int ReplyMac = 201;        // six bytes, most significant first
constexpr int ReplyBindIndex = 211;
constexpr int ShortNameSize = 18;
constexpr int LongNameSize = 64;
constexpr int NodeReportSize = 64;
constexpr int MaxReplyPorts = 4;

// A text field of the reply: as much of text as leaves room for the closing zero byte.
void writeText(QByteArray &packet, int offset, int size, const QByteArray &text)
{
    const QByteArray kept = text.left(size - 1);
    packet.replace(offset, int(kept.size()), kept);
}

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

void writeArtDmxHeader(uchar *packet, quint16 portAddress, quint16 length, quint8 sequence,
                       quint8 physical)
{
    writeHeader(packet, 0x5000);
    packet[DmxSequence] = sequence;
    packet[DmxPhysical] = physical;
    packet[DmxSubUni] = quint8(portAddress & 0xFF);
    packet[DmxNet] = quint8(portAddress >> 8);
    packet[DmxLengthHi] = quint8(length >> 8);
    packet[DmxLengthLo] = quint8(length & 0xFF);
}

QByteArray artDmxClaiming(quint16 portAddress, quint16 length, const QByteArray &data,
                          quint8 sequence, quint8 physical)
{
    QByteArray packet(ArtDmxHeaderSize, '\0');
    writeArtDmxHeader(reinterpret_cast<uchar *>(packet.data()), portAddress, length, sequence,
                      physical);
    return packet + data;
}

QByteArray artDmx(quint16 portAddress, const QByteArray &levels, quint8 sequence, quint8 physical)
{
    return artDmxClaiming(portAddress, quint16(levels.size()), levels, sequence, physical);
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

QByteArray artSync()
{
    QByteArray packet(ArtSyncSize, '\0');
    writeHeader(reinterpret_cast<uchar *>(packet.data()), 0x5200);
    packet[SyncAux1] = 0;
    packet[SyncAux2] = 0;
    return packet;
}

QByteArray artTimeCode(quint8 frames, quint8 seconds, quint8 minutes, quint8 hours, quint8 type)
{
    QByteArray packet(ArtTimeCodeSize, '\0');
    writeHeader(reinterpret_cast<uchar *>(packet.data()), 0x9700);
    packet[TimeCodeFiller1] = 0;
    packet[TimeCodeStreamId] = 0;
    packet[TimeCodeFrames] = char(frames);
    packet[TimeCodeSeconds] = char(seconds);
    packet[TimeCodeMinutes] = char(minutes);
    packet[TimeCodeHours] = char(hours);
    packet[TimeCodeType] = char(type);
    return packet;
}

QByteArray artPollReply(const PollReply &node)
{
    QByteArray packet(qMax(node.size, ReplyBindIndex + 1), '\0');
    writeHeader(reinterpret_cast<uchar *>(packet.data()), 0x2100);
    for (int byte = 0; byte < 4; ++byte)
        packet[ReplyIp + byte] = char(node.ip >> (24 - 8 * byte));
    packet[ReplyPortLo] = char(0x36);
    packet[ReplyPortHi] = char(0x19);
    packet[ReplyVersInfoHi] = char(node.versionHi);
    packet[ReplyVersInfoLo] = char(node.versionLo);
    packet[ReplyNetSwitch] = char(node.netSwitch);
    packet[ReplySubSwitch] = char(node.subSwitch);
    writeText(packet, ReplyShortName, ShortNameSize, node.shortName);
    writeText(packet, ReplyLongName, LongNameSize, node.longName);
    writeText(packet, ReplyNodeReport, NodeReportSize, node.nodeReport);
    const int ports = qMin(int(node.ports.size()), MaxReplyPorts);
    packet[ReplyNumPortsHi] = 0;
    packet[ReplyNumPortsLo] = char(ports);
    for (int port = 0; port < ports; ++port) {
        const PollReplyPort &fields = node.ports.at(port);
        packet[ReplyPortTypes + port] = char(fields.type);
        packet[ReplyGoodInput + port] = char(fields.goodInput);
        packet[ReplyGoodOutput + port] = char(fields.goodOutput);
        packet[ReplySwIn + port] = char(fields.swIn);
        packet[ReplySwOut + port] = char(fields.swOut);
    }
    packet[ReplyStyle] = char(node.style);
    for (int byte = 0; byte < 6; ++byte)
        packet[ReplyMac + byte] = char(node.mac[byte]);
    packet[ReplyBindIndex] = char(node.bindIndex);
    packet.truncate(node.size);
    return packet;
}

QByteArray artPollReply(quint32 ip, const QByteArray &shortName, quint16 portAddress)
{
    PollReply node;
    node.ip = ip;
    node.versionHi = 1;
    node.versionLo = 4;
    node.netSwitch = quint8((portAddress >> 8) & 0x7F);
    node.subSwitch = quint8((portAddress >> 4) & 0x0F);
    node.shortName = shortName;
    PollReplyPort output;
    output.swOut = quint8(portAddress & 0x0F);
    node.ports = {output};
    node.mac[0] = 0x02;
    node.mac[5] = quint8(ip & 0xFF);
    return artPollReply(node);
}

namespace {

void append16(QByteArray &packet, quint16 value)
{
    packet.append(char(value >> 8)).append(char(value & 0xFF));
}

void append32(QByteArray &packet, quint32 value)
{
    append16(packet, quint16(value >> 16));
    append16(packet, quint16(value & 0xFFFF));
}

void appendName(QByteArray &packet, const QByteArray &name)
{
    packet.append(name.left(64)).append(64 - int(name.left(64).size()), '\0');
}

// Preamble size, postamble size, identifier, the root PDU's flags and length (patched by
// closeLayers), its vector and the CID.
QByteArray sacnRoot(quint32 vector, const QByteArray &cid)
{
    QByteArray packet;
    append16(packet, 0x0010);
    append16(packet, 0x0000);
    packet.append("ASC-E1.17", 9).append(3, '\0');
    append16(packet, 0);
    append32(packet, vector);
    packet.append(cid.left(16)).append(16 - int(cid.left(16).size()), '\0');
    return packet;
}

// Every layer's length runs from its flags to the packet's end.
void closeLayers(QByteArray &packet, std::initializer_list<int> flagsOffsets)
{
    for (int offset : flagsOffsets) {
        const int length = int(packet.size()) - offset;
        packet[offset] = char(0x70 | (length >> 8));
        packet[offset + 1] = char(length & 0xFF);
    }
}

} // namespace

QByteArray sacnData(const SacnData &data)
{
    QByteArray packet = sacnRoot(0x00000004, data.cid);
    const int framing = int(packet.size());
    append16(packet, 0);
    append32(packet, 0x00000002);
    appendName(packet, data.sourceName);
    packet.append(char(data.priority));
    append16(packet, data.syncAddress);
    packet.append(char(data.sequence)).append(char(data.options));
    append16(packet, data.universe);
    const int dmp = int(packet.size());
    append16(packet, 0);
    packet.append(char(0x02)).append(char(0xA1));
    append16(packet, 0x0000);
    append16(packet, 0x0001);
    append16(packet, quint16(data.values.size() + 1));
    packet.append(char(data.startCode)).append(data.values);
    closeLayers(packet, {16, framing, dmp});
    return packet;
}

QByteArray sacnSync(const QByteArray &cid, quint8 sequence, quint16 syncAddress)
{
    QByteArray packet = sacnRoot(0x00000008, cid);
    const int framing = int(packet.size());
    append16(packet, 0);
    append32(packet, 0x00000001);
    packet.append(char(sequence));
    append16(packet, syncAddress);
    append16(packet, 0);
    closeLayers(packet, {16, framing});
    return packet;
}

QByteArray sacnDiscovery(const QByteArray &cid, const QByteArray &sourceName, quint8 page,
                         quint8 lastPage, const QList<quint16> &universes)
{
    QByteArray packet = sacnRoot(0x00000008, cid);
    const int framing = int(packet.size());
    append16(packet, 0);
    append32(packet, 0x00000002);
    appendName(packet, sourceName);
    append32(packet, 0);
    const int discovery = int(packet.size());
    append16(packet, 0);
    append32(packet, 0x00000001);
    packet.append(char(page)).append(char(lastPage));
    for (quint16 universe : universes)
        append16(packet, universe);
    closeLayers(packet, {16, framing, discovery});
    return packet;
}

} // namespace TestPackets
