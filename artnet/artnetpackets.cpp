#include "artnetpackets.h"
#include "nodeinfo.h"
#include "timecodesource.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace ArtNetPackets {

namespace {

// Identifier, opcode and protocol version: the first twelve bytes of every packet written here.
void writeHeader(uchar *packet, quint16 opCode)
{
    std::memcpy(packet + Header::Id, ArtNetId, Header::IdSize);
    qToLittleEndian<quint16>(opCode, packet + Header::OpCode);
    packet[Header::ProtVerHi] = ProtocolVersionHi;
    packet[Header::ProtVerLo] = ProtocolVersionLo;
}

// A name field keeps its last byte for the terminating zero, whatever the name's length.
void writeName(uchar *packet, int offset, int fieldSize, const QByteArray &name)
{
    const size_t kept = size_t(std::min<qsizetype>(name.size(), fieldSize - 1));
    std::memcpy(packet + offset, name.constData(), kept);
    std::memset(packet + offset + kept, 0, size_t(fieldSize) - kept);
}

QString readName(const quint8 *field, int size)
{
    const char *text = reinterpret_cast<const char *>(field);
    return QString::fromLatin1(text, int(qstrnlen(text, uint(size))));
}

} // namespace

int writeArtDmxHeader(uchar *packet, quint16 portAddress, quint16 length)
{
    const quint16 carried = std::min<quint16>(length, Dmx::MaxChannels);
    writeHeader(packet, OpCode::Dmx);
    packet[Dmx::Sequence] = 0;
    packet[Dmx::Physical] = 0;
    packet[Dmx::SubUni] = quint8(portAddress & 0xFF);
    packet[Dmx::Net] = quint8(portAddress >> 8);
    packet[Dmx::LengthHi] = quint8(carried >> 8);
    packet[Dmx::LengthLo] = quint8(carried & 0xFF);
    return Dmx::HeaderSize + carried;
}

int writeArtDmx(uchar *packet, quint16 portAddress, const uchar *data, quint16 length)
{
    const int size = writeArtDmxHeader(packet, portAddress, length);
    if (size > Dmx::HeaderSize)
        std::memcpy(packet + Dmx::Data, data, size_t(size - Dmx::HeaderSize));
    return size;
}

int writeArtPoll(uchar *packet)
{
    writeHeader(packet, OpCode::Poll);
    packet[Poll::TalkToMe] = 0;
    packet[Poll::Priority] = 0;
    return Poll::Size;
}

int writeArtTimeCode(uchar *packet, const quint8 *fields)
{
    std::memset(packet, 0, TimeCode::Size);
    writeHeader(packet, OpCode::TimeCode);
    std::memcpy(packet + TimeCode::Frames, fields, TimeCode::Fields);
    return TimeCode::Size;
}

int writeArtPollReply(uchar *packet, const PollReplyNode &node, uint firstPortAddress, uint ports,
                      quint8 bindIndex)
{
    std::memset(packet, 0, PollReply::Size);
    // The reply carries no protocol version: its bytes 10 to 13 are the IP address.
    std::memcpy(packet + Header::Id, ArtNetId, Header::IdSize);
    qToLittleEndian<quint16>(OpCode::PollReply, packet + Header::OpCode);
    qToBigEndian<quint32>(node.ip, packet + PollReply::IpAddress);
    qToLittleEndian<quint16>(Port, packet + PollReply::Port);
    packet[PollReply::VersInfoHi] = node.versionHi;
    packet[PollReply::VersInfoLo] = node.versionLo;
    // A port-address is Net (bits 14-8), Sub-Net (bits 7-4) and Universe (bits 3-0); the
    // switches carry the upper parts so that controllers see universes above 16 correctly.
    packet[PollReply::NetSwitch] = quint8((firstPortAddress >> 8) & 0x7F);
    packet[PollReply::SubSwitch] = quint8((firstPortAddress >> 4) & 0x0F);
    packet[PollReply::OemHi] = node.oemHi;
    packet[PollReply::OemLo] = node.oemLo;
    writeName(packet, PollReply::ShortName, PollReply::ShortNameSize, node.shortName);
    writeName(packet, PollReply::LongName, PollReply::LongNameSize, node.longName);
    writeName(packet, PollReply::NodeReport, PollReply::NodeReportSize, node.nodeReport);
    const uint carried = std::min<uint>(ports, PollReply::MaxPorts);
    packet[PollReply::NumPortsLo] = quint8(carried);
    for (int j = 0; j < PollReply::MaxPorts; ++j) {
        packet[PollReply::PortTypes + j] = PollReply::PortTypeValue;
        packet[PollReply::GoodOutput + j] = PollReply::GoodOutputValue;
    }
    // The whole low byte: readers that follow Art-Net take its Universe nibble, consoles
    // that compare the byte with their own SwIn then agree as well.
    for (uint j = 0; j < carried; ++j) {
        packet[PollReply::SwIn + j] = quint8((firstPortAddress + j) & 0xFF);
        packet[PollReply::SwOut + j] = quint8((firstPortAddress + j) & 0xFF);
    }
    std::memcpy(packet + PollReply::Mac, node.mac, PollReply::MacSize);
    packet[PollReply::BindIndex] = bindIndex;
    return PollReply::Size;
}

quint16 readOpCode(const uchar *datagram, qsizetype size)
{
    if (size < Header::OpCode + 2)
        return 0;
    return qFromLittleEndian<quint16>(datagram + Header::OpCode);
}

quint16 dmxLengthField(const uchar *datagram, qsizetype size)
{
    if (size < Dmx::HeaderSize)
        return 0;
    return quint16((quint16(datagram[Dmx::LengthHi]) << 8) | datagram[Dmx::LengthLo]);
}

bool isWholeArtDmx(qsizetype size, quint16 lengthField)
{
    return size >= Dmx::HeaderSize && size - Dmx::HeaderSize >= qsizetype(lengthField);
}

bool isWholeArtDmx(const uchar *datagram, qsizetype size)
{
    return isWholeArtDmx(size, dmxLengthField(datagram, size));
}

quint16 dmxPortAddress(const uchar *datagram)
{
    return qFromLittleEndian<quint16>(datagram + Dmx::SubUni);
}

uint dmxClampedLength(const uchar *datagram)
{
    return std::min<uint>(dmxLengthField(datagram, Dmx::HeaderSize), Dmx::MaxChannels);
}

void readArtDmx(const uchar *datagram, qsizetype size, quint32 sender, DmxFrame *frame)
{
    // Every ArtDmx passes here: each field is read once, and nothing is called.
    frame->source.protocol = DmxProtocol::ArtNet;
    frame->source.address = sender;
    frame->source.physical = size > Dmx::Physical ? datagram[Dmx::Physical] : 0;
    frame->sequence = size > Dmx::Sequence ? datagram[Dmx::Sequence] : 0;
    frame->priority = 0;
    frame->universe.protocol = DmxProtocol::ArtNet;
    frame->universeKnown = size > Dmx::Net;
    frame->universe.number = frame->universeKnown
            ? quint16(datagram[Dmx::SubUni] | quint16(datagram[Dmx::Net]) << 8)
            : quint16(0);
    const bool headerArrived = size >= Dmx::HeaderSize;
    frame->lengthField = headerArrived
            ? quint16(quint16(datagram[Dmx::LengthHi]) << 8 | datagram[Dmx::LengthLo])
            : quint16(0);
    frame->malformed = !headerArrived || size - Dmx::HeaderSize < qsizetype(frame->lengthField);
    frame->levels = headerArrived ? datagram + Dmx::Data : nullptr;
    frame->count = frame->malformed ? 0 : std::min<quint16>(frame->lengthField, Dmx::MaxChannels);
}

void readArtTimeCode(const uchar *datagram, qsizetype size, TimeCodeSource *timeCode)
{
    quint8 t[TimeCode::Size] = {};
    std::memcpy(t, datagram, size_t(std::clamp<qsizetype>(size, 0, TimeCode::Size)));
    timeCode->frames = t[TimeCode::Frames];
    timeCode->seconds = t[TimeCode::Seconds];
    timeCode->minutes = t[TimeCode::Minutes];
    timeCode->hours = t[TimeCode::Hours];
    timeCode->type = t[TimeCode::Type];
}

quint16 pollReplyPortAddress(quint8 netSwitch, quint8 subSwitch, quint8 port)
{
    return quint16(((netSwitch & 0x7F) << 8) | ((subSwitch & 0x0F) << 4) | (port & 0x0F));
}

quint8 readPollReplyBindIndex(const uchar *datagram, qsizetype size)
{
    return size > PollReply::BindIndex ? datagram[PollReply::BindIndex] : 0;
}

void readArtPollReply(const uchar *datagram, qsizetype size, NodeInfo *node)
{
    quint8 r[PollReply::Size] = {};
    std::memcpy(r, datagram, size_t(std::clamp<qsizetype>(size, 0, PollReply::Size)));
    node->packetAddress = qFromBigEndian<quint32>(r + PollReply::IpAddress);
    node->port = qFromLittleEndian<quint16>(r + PollReply::Port);
    node->bindIndex = r[PollReply::BindIndex];
    node->shortName = readName(r + PollReply::ShortName, PollReply::ShortNameSize);
    node->longName = readName(r + PollReply::LongName, PollReply::LongNameSize);
    node->nodeReport = readName(r + PollReply::NodeReport, PollReply::NodeReportSize);
    node->firmware = quint16(r[PollReply::VersInfoHi] << 8 | r[PollReply::VersInfoLo]);
    node->oem = quint16(r[PollReply::OemHi] << 8 | r[PollReply::OemLo]);
    // EstaMan is sent low byte first.
    node->esta = qFromLittleEndian<quint16>(r + PollReply::EstaMan);
    std::memcpy(node->mac, r + PollReply::Mac, PollReply::MacSize);
    node->status1 = r[PollReply::Status1];
    node->status2 = r[PollReply::Status2];
    node->numPorts = quint16(r[PollReply::NumPortsHi] << 8 | r[PollReply::NumPortsLo]);
    for (int j = 0; j < PollReply::MaxPorts; ++j) {
        node->portTypes[j] = r[PollReply::PortTypes + j];
        node->goodInput[j] = r[PollReply::GoodInput + j];
        node->goodOutput[j] = r[PollReply::GoodOutput + j];
        node->swIn[j] = pollReplyPortAddress(r[PollReply::NetSwitch], r[PollReply::SubSwitch],
                                             r[PollReply::SwIn + j]);
        node->swOut[j] = pollReplyPortAddress(r[PollReply::NetSwitch], r[PollReply::SubSwitch],
                                              r[PollReply::SwOut + j]);
    }
    node->style = r[PollReply::Style];
}

} // namespace ArtNetPackets
