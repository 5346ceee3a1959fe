#include "sacnpackets.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace SacnPackets {

namespace {

quint16 read16(const uchar *field)
{
    return quint16(quint16(field[0]) << 8 | field[1]);
}

quint32 read32(const uchar *field)
{
    return quint32(field[0]) << 24 | quint32(field[1]) << 16 | quint32(field[2]) << 8 | field[3];
}

void writeFlagsLength(uchar *packet, int offset, int end)
{
    qToBigEndian<quint16>(quint16((PduFlags << 8) | ((end - offset) & PduLengthMask)), packet + offset);
}

// A PDU at `offset` whose flags are E1.31's and whose length covers at least its header and
// ends inside what its parent holds (`end`); gives the offset where it ends.
bool readPdu(const uchar *datagram, qsizetype end, int offset, int headerSize, qsizetype *pduEnd)
{
    if (end < offset + 2)
        return false;
    const quint16 flagsLength = read16(datagram + offset);
    const int length = flagsLength & PduLengthMask;
    if (((flagsLength >> 8) & 0xF0) != PduFlags || length < headerSize || offset + length > end)
        return false;
    *pduEnd = offset + length;
    return true;
}

void setMalformed(SacnMessage *message, SacnMessage::Fault fault)
{
    message->kind = SacnMessage::Kind::Malformed;
    message->fault = fault;
    message->frame.malformed = true;
    message->frame.levels = nullptr;
    message->frame.count = 0;
    message->slotValues = nullptr;
    message->slotCount = 0;
}

void readSourceName(const uchar *field, SacnMessage *message)
{
    message->sourceName = field;
    const char *text = reinterpret_cast<const char *>(field);
    message->sourceNameSize = quint8(qstrnlen(text, SacnMessage::SourceNameSize));
}

// The root layer: preamble, postamble, identifier, PDU and vector. Gives the root vector, or 0.
quint32 readRoot(const uchar *datagram, qsizetype size, qsizetype *rootEnd, SacnMessage *message)
{
    if (size < Root::Size || read16(datagram + Root::PreambleSize) != Root::PreambleSizeValue
        || read16(datagram + Root::PostambleSize) != 0
        || std::memcmp(datagram + Root::Identifier, AcnIdentifier, Root::IdentifierSize) != 0
        || !readPdu(datagram, size, Root::FlagsLength, Root::Size - Root::FlagsLength, rootEnd))
        return 0;
    const quint32 vector = read32(datagram + Root::Vector);
    if (vector != Root::VectorData && vector != Root::VectorExtended)
        return 0;
    std::memcpy(message->frame.source.cid.data(), datagram + Root::Cid, SourceIdentity::CidSize);
    return vector;
}

void readDmp(const uchar *datagram, qsizetype framingEnd, SacnMessage *message)
{
    qsizetype dmpEnd = 0;
    if (!readPdu(datagram, framingEnd, Dmp::FlagsLength, Dmp::HeaderSize - Dmp::FlagsLength, &dmpEnd)
        || datagram[Dmp::Vector] != Dmp::VectorValue
        || datagram[Dmp::AddressDataType] != Dmp::AddressDataTypeValue
        || read16(datagram + Dmp::FirstAddress) != Dmp::FirstAddressValue
        || read16(datagram + Dmp::AddressIncrement) != Dmp::AddressIncrementValue)
        return setMalformed(message, SacnMessage::Fault::Dmp);
    const int propertyCount = read16(datagram + Dmp::PropertyCount);
    if (propertyCount < 1 || propertyCount > Dmp::MaxPropertyCount
        || Dmp::StartCode + propertyCount > dmpEnd)
        return setMalformed(message, SacnMessage::Fault::Dmp);
    message->kind = SacnMessage::Kind::Data;
    message->startCode = datagram[Dmp::StartCode];
    message->slotValues = datagram + Dmp::Slots;
    message->slotCount = quint16(propertyCount - 1);
    DmxFrame &frame = message->frame;
    frame.lengthField = message->slotCount;
    // Only start code 0 carries levels: the slots of any other are something else.
    if (message->startCode == SacnMessage::StartCodeLevels) {
        frame.levels = message->slotValues;
        frame.count = message->slotCount;
    }
}

void readData(const uchar *datagram, qsizetype rootEnd, SacnMessage *message)
{
    qsizetype framingEnd = 0;
    if (!readPdu(datagram, rootEnd, DataFraming::FlagsLength,
                 DataFraming::Size - DataFraming::FlagsLength, &framingEnd)
        || read32(datagram + DataFraming::Vector) != DataFraming::VectorValue)
        return setMalformed(message, SacnMessage::Fault::Framing);
    readSourceName(datagram + DataFraming::SourceName, message);
    DmxFrame &frame = message->frame;
    frame.priority = datagram[DataFraming::Priority];
    message->invalidPriority = frame.priority > SacnMessage::MaxPriority;
    message->syncAddress = read16(datagram + DataFraming::SyncAddress);
    frame.sequence = datagram[DataFraming::Sequence];
    message->options = datagram[DataFraming::Options];
    const quint16 universe = read16(datagram + DataFraming::Universe);
    if (universe < MinUniverse || universe > MaxUniverse)
        return setMalformed(message, SacnMessage::Fault::Universe);
    frame.universe.number = universe;
    frame.universeKnown = true;
    readDmp(datagram, framingEnd, message);
}

void readSync(const uchar *datagram, qsizetype framingEnd, SacnMessage *message)
{
    if (framingEnd < SyncFraming::Size)
        return setMalformed(message, SacnMessage::Fault::Framing);
    message->kind = SacnMessage::Kind::Sync;
    message->frame.sequence = datagram[SyncFraming::Sequence];
    message->syncAddress = read16(datagram + SyncFraming::SyncAddress);
}

void readDiscovery(const uchar *datagram, qsizetype framingEnd, SacnMessage *message)
{
    qsizetype discoveryEnd = 0;
    if (framingEnd < DiscoveryFraming::Size
        || !readPdu(datagram, framingEnd, Discovery::FlagsLength,
                    Discovery::HeaderSize - Discovery::FlagsLength, &discoveryEnd))
        return setMalformed(message, SacnMessage::Fault::Framing);
    readSourceName(datagram + DiscoveryFraming::SourceName, message);
    if (read32(datagram + Discovery::Vector) != Discovery::VectorValue)
        return setMalformed(message, SacnMessage::Fault::Framing);
    message->kind = SacnMessage::Kind::Discovery;
    message->page = datagram[Discovery::Page];
    message->lastPage = datagram[Discovery::LastPage];
    message->universeList = datagram + Discovery::Universes;
    message->universeCount = quint16(std::min<qsizetype>((discoveryEnd - Discovery::HeaderSize) / 2,
                                                         SacnMessage::MaxDiscoveryUniverses));
}

void readExtended(const uchar *datagram, qsizetype rootEnd, SacnMessage *message)
{
    qsizetype framingEnd = 0;
    if (!readPdu(datagram, rootEnd, SyncFraming::FlagsLength,
                 SyncFraming::Sequence - SyncFraming::FlagsLength, &framingEnd))
        return setMalformed(message, SacnMessage::Fault::Framing);
    const quint32 vector = read32(datagram + SyncFraming::Vector);
    if (vector == SyncFraming::VectorValue)
        return readSync(datagram, framingEnd, message);
    if (vector == DiscoveryFraming::VectorValue)
        return readDiscovery(datagram, framingEnd, message);
    setMalformed(message, SacnMessage::Fault::Framing);
}

int writeData(uchar *packet, const DataHeader &header, quint8 options, const uchar *levels,
              quint16 count)
{
    const quint16 carried = std::min<quint16>(count, DmxFrame::MaxChannels);
    const int size = Dmp::Slots + carried;
    qToBigEndian<quint16>(Root::PreambleSizeValue, packet + Root::PreambleSize);
    qToBigEndian<quint16>(0, packet + Root::PostambleSize);
    std::memcpy(packet + Root::Identifier, AcnIdentifier, Root::IdentifierSize);
    writeFlagsLength(packet, Root::FlagsLength, size);
    qToBigEndian<quint32>(Root::VectorData, packet + Root::Vector);
    std::memcpy(packet + Root::Cid, header.cid.data(), SourceIdentity::CidSize);
    writeFlagsLength(packet, DataFraming::FlagsLength, size);
    qToBigEndian<quint32>(DataFraming::VectorValue, packet + DataFraming::Vector);
    const size_t nameSize = size_t(std::min<qsizetype>(header.sourceName.size(),
                                                       SacnMessage::SourceNameSize - 1));
    std::memcpy(packet + DataFraming::SourceName, header.sourceName.constData(), nameSize);
    std::memset(packet + DataFraming::SourceName + nameSize, 0,
                SacnMessage::SourceNameSize - nameSize);
    packet[DataFraming::Priority] = header.priority;
    qToBigEndian<quint16>(header.syncAddress, packet + DataFraming::SyncAddress);
    packet[DataFraming::Sequence] = header.sequence;
    packet[DataFraming::Options] = options;
    qToBigEndian<quint16>(header.universe, packet + DataFraming::Universe);
    writeFlagsLength(packet, Dmp::FlagsLength, size);
    packet[Dmp::Vector] = Dmp::VectorValue;
    packet[Dmp::AddressDataType] = Dmp::AddressDataTypeValue;
    qToBigEndian<quint16>(Dmp::FirstAddressValue, packet + Dmp::FirstAddress);
    qToBigEndian<quint16>(Dmp::AddressIncrementValue, packet + Dmp::AddressIncrement);
    qToBigEndian<quint16>(quint16(carried + 1), packet + Dmp::PropertyCount);
    packet[Dmp::StartCode] = SacnMessage::StartCodeLevels;
    if (carried > 0)
        std::memcpy(packet + Dmp::Slots, levels, carried);
    return size;
}

} // namespace

int writeDataPacket(uchar *packet, const DataHeader &header, const uchar *levels, quint16 count)
{
    return writeData(packet, header, header.options, levels, count);
}

int writeStreamTerminated(uchar *packet, const DataHeader &header, const uchar *levels,
                          quint16 count)
{
    return writeData(packet, header, header.options | SacnMessage::OptionStreamTerminated, levels,
                     count);
}

void readDatagram(const uchar *datagram, qsizetype size, quint32 sender, qint64 arrivalNs,
                  SacnMessage *message)
{
    *message = SacnMessage();
    message->frame.universe.protocol = DmxProtocol::Sacn;
    message->frame.source.protocol = DmxProtocol::Sacn;
    message->frame.source.address = sender;
    message->frame.arrivalNs = arrivalNs;
    qsizetype rootEnd = 0;
    const quint32 vector = readRoot(datagram, size, &rootEnd, message);
    if (vector == Root::VectorData)
        readData(datagram, rootEnd, message);
    else if (vector == Root::VectorExtended)
        readExtended(datagram, rootEnd, message);
    else
        setMalformed(message, SacnMessage::Fault::Root);
}

QString sourceNameText(const SacnMessage &message)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(message.sourceName),
                             message.sourceNameSize);
}

} // namespace SacnPackets
