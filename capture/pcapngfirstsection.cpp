#include "pcapngfirstsection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Every block begins with its type and total length, in the section's byte order; a section
// header carries the byte-order magic after them.
namespace Block {
constexpr int Type = 0;
constexpr int TotalLength = 4;
constexpr int ByteOrderMagic = 8; // section header only
constexpr int HeaderSize = 8;
constexpr int SectionHeaderStart = 12;
constexpr quint32 MinimumLength = 12;
} // namespace Block

constexpr quint32 SectionHeaderType = 0x0A0D0D0A; // the same in either byte order
constexpr quint8 SectionHeaderBytes[] = {0x0A, 0x0D, 0x0D, 0x0A};
constexpr quint8 LittleEndianMagic[] = {0x4D, 0x3C, 0x2B, 0x1A};

// The caller tells why the stream could not be used; closing it must not change that.
FILE *closeKeepingError(FILE *stream)
{
    const int error = errno;
    std::fclose(stream);
    errno = error;
    return nullptr;
}

} // namespace

FILE *PcapngFirstSection::open(FILE *stream)
{
    quint8 start[Block::SectionHeaderStart] = {};
    const bool readStart = std::fread(start, 1, sizeof start, stream) == sizeof start;
    if (std::fseek(stream, 0, SEEK_SET) != 0)
        return closeKeepingError(stream);
    if (!readStart
        || std::memcmp(start + Block::Type, SectionHeaderBytes, sizeof SectionHeaderBytes) != 0)
        return stream;
    const bool bigEndian = std::memcmp(start + Block::ByteOrderMagic, LittleEndianMagic,
                                       sizeof LittleEndianMagic) != 0;
    auto *firstSection = new PcapngFirstSection(stream, bigEndian);
    const cookie_io_functions_t functions = {&PcapngFirstSection::readCallback, nullptr,
                                             &PcapngFirstSection::seekCallback,
                                             &PcapngFirstSection::closeCallback};
    FILE *wrapped = fopencookie(firstSection, "rb", functions);
    if (!wrapped) {
        delete firstSection;
        return closeKeepingError(stream);
    }
    return wrapped;
}

ssize_t PcapngFirstSection::readCallback(void *cookie, char *buffer, size_t size)
{
    return static_cast<PcapngFirstSection *>(cookie)->read(buffer, size);
}

int PcapngFirstSection::seekCallback(void *cookie, off64_t *offset, int whence)
{
    auto *firstSection = static_cast<PcapngFirstSection *>(cookie);
    qint64 target = *offset;
    if (whence == SEEK_CUR)
        target += firstSection->m_position;
    else if (whence == SEEK_END)
        return -1; // libpcap never asks; the end is not known before it has been read to
    if (target < 0 || !firstSection->seek(target))
        return -1;
    *offset = target;
    return 0;
}

int PcapngFirstSection::closeCallback(void *cookie)
{
    auto *firstSection = static_cast<PcapngFirstSection *>(cookie);
    const int result = std::fclose(firstSection->m_stream);
    delete firstSection;
    return result;
}

bool PcapngFirstSection::seek(qint64 offset)
{
    if (offset > std::numeric_limits<long>::max()
        || std::fseek(m_stream, long(offset), SEEK_SET) != 0)
        return false;
    m_position = offset;
    return true;
}

ssize_t PcapngFirstSection::read(char *buffer, size_t size)
{
    const qint64 from = m_position;
    // After a seek past what was followed, the blocks in between are followed first.
    if (m_nextBlock < from)
        followBlocks(from, nullptr, from);
    const qint64 wanted = std::min<qint64>(qint64(size), std::max<qint64>(m_end - from, 0));
    if (wanted == 0)
        return 0;
    const size_t count = std::fread(buffer, 1, size_t(wanted), m_stream);
    if (count == 0 && std::ferror(m_stream))
        return -1;
    m_position += qint64(count);
    followBlocks(m_position, buffer, from);
    if (m_end < m_position) {
        // The bytes from the second section's header on are not shown.
        const qint64 shown = m_end - from;
        seek(m_end);
        return ssize_t(shown);
    }
    return ssize_t(count);
}

void PcapngFirstSection::followBlocks(qint64 before, const char *bytes, qint64 bytesFrom)
{
    while (m_following && m_nextBlock < before) {
        quint8 header[Block::HeaderSize];
        if (bytes && m_nextBlock >= bytesFrom && m_nextBlock + Block::HeaderSize <= m_position)
            std::memcpy(header, bytes + (m_nextBlock - bytesFrom), sizeof header);
        else if (!readHeaderAt(m_nextBlock, header))
            m_following = false; // the file ends inside it: libpcap finds it cut short
        if (m_following)
            look(header);
    }
}

bool PcapngFirstSection::readHeaderAt(qint64 offset, quint8 *header)
{
    const bool read = offset <= std::numeric_limits<long>::max()
        && std::fseek(m_stream, long(offset), SEEK_SET) == 0
        && std::fread(header, 1, Block::HeaderSize, m_stream) == Block::HeaderSize;
    std::clearerr(m_stream);
    std::fseek(m_stream, long(m_position), SEEK_SET);
    return read;
}

void PcapngFirstSection::look(const quint8 *header)
{
    const quint32 length = word(header + Block::TotalLength);
    if (m_nextBlock > 0 && word(header + Block::Type) == SectionHeaderType) {
        m_end = m_nextBlock;
        m_following = false;
    } else if (length < Block::MinimumLength || length % 4 != 0) {
        m_following = false;
    } else {
        m_nextBlock += length;
    }
}

quint32 PcapngFirstSection::word(const quint8 *bytes) const
{
    return m_bigEndian ? quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16
                               | quint32(bytes[2]) << 8 | bytes[3]
                       : quint32(bytes[3]) << 24 | quint32(bytes[2]) << 16
                               | quint32(bytes[1]) << 8 | bytes[0];
}
