#include "pcapngsections.h"

namespace {

// Every block begins with its type and total length, in the section's byte order; a section
// header carries the byte-order magic after them.
namespace Block {
constexpr long Type = 0;
constexpr long TotalLength = 4;
constexpr long ByteOrderMagic = 8; // section header only
constexpr int HeaderSize = 12;
constexpr int MinimumLength = 12;
constexpr int PacketFixedSize = 32; // Enhanced Packet Block without data and options
} // namespace Block

constexpr quint32 SectionHeaderType = 0x0A0D0D0A; // the same in either byte order
constexpr quint32 ByteOrderMagicValue = 0x1A2B3C4D;

} // namespace

void PcapngSections::inspect(FILE *stream)
{
    m_pcapng = false;
    const long start = std::ftell(stream);
    quint8 header[Block::HeaderSize] = {};
    if (start >= 0 && std::fread(header, 1, sizeof header, stream) == sizeof header) {
        m_bigEndian = false;
        if (readWord(header + Block::Type) == SectionHeaderType) {
            m_bigEndian = readWord(header + Block::ByteOrderMagic) != ByteOrderMagicValue;
            m_pcapng = true;
        }
    }
    std::fseek(stream, start, SEEK_SET);
}

bool PcapngSections::headerBetween(FILE *stream, qint64 from, qint64 to, bool skipFirst) const
{
    bool found = false;
    for (qint64 block = from; !found && block + Block::HeaderSize <= to;) {
        quint8 header[Block::HeaderSize] = {};
        if (std::fseek(stream, long(block), SEEK_SET) != 0
            || std::fread(header, 1, sizeof header, stream) != sizeof header)
            break;
        if (readWord(header + Block::Type) == SectionHeaderType && (block != from || !skipFirst))
            found = true;
        const quint32 length = readWord(header + Block::TotalLength);
        // libpcap refused such a block; what lies beyond it was not read.
        if (length < Block::MinimumLength || length % 4 != 0)
            break;
        block += length;
    }
    std::fseek(stream, long(to), SEEK_SET);
    return found;
}

qint64 PcapngSections::plainPacketBlockSize(quint32 captured)
{
    return Block::PacketFixedSize + (qint64(captured) + 3) / 4 * 4;
}

quint32 PcapngSections::readWord(const quint8 *bytes) const
{
    return m_bigEndian ? quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16
                               | quint32(bytes[2]) << 8 | bytes[3]
                       : quint32(bytes[3]) << 24 | quint32(bytes[2]) << 16
                               | quint32(bytes[1]) << 8 | bytes[0];
}
