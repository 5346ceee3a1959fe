#ifndef PCAPNGFIRSTSECTION_H
#define PCAPNGFIRSTSECTION_H

#include <QtGlobal>

#include <cstdio>
#include <limits>

#include <sys/types.h>

// A pcapng file may hold several sections (captures written one after the other, each with its
// own header and interfaces). libpcap reads them in turn, but once it has read a later section's
// header it has forgotten the earlier section's interfaces: a record of the earlier section read
// again after a seek back comes out wrong or not at all. This stream shows libpcap the first
// section only, as if the file ended where the second section's header begins. It finds that
// header by following the block headers as the bytes pass through, so that opening a large
// capture costs nothing more.
class PcapngFirstSection
{
public:
    // A stream over the first section of a pcapng stream, which it then owns; any other stream is
    // returned as it is. Null when no stream can be made: the stream given is then closed.
    static FILE *open(FILE *stream);

    PcapngFirstSection(const PcapngFirstSection &) = delete;
    PcapngFirstSection &operator=(const PcapngFirstSection &) = delete;

private:
    PcapngFirstSection(FILE *stream, bool bigEndian) : m_stream(stream), m_bigEndian(bigEndian) {}

    static ssize_t readCallback(void *cookie, char *buffer, size_t size);
    static int seekCallback(void *cookie, off64_t *offset, int whence);
    static int closeCallback(void *cookie);

    ssize_t read(char *buffer, size_t size);
    bool seek(qint64 offset);
    // Follows the blocks whose headers begin before `before`; bytes holds the file from
    // bytesFrom on, as far as it was read.
    void followBlocks(qint64 before, const char *bytes, qint64 bytesFrom);
    bool readHeaderAt(qint64 offset, quint8 *header);
    void look(const quint8 *header);
    quint32 word(const quint8 *bytes) const;

    FILE *m_stream;
    bool m_bigEndian;
    qint64 m_position = 0;
    // The first block whose header has not been looked at yet.
    qint64 m_nextBlock = 0;
    // Where the second section begins, once its header has been seen.
    qint64 m_end = std::numeric_limits<qint64>::max();
    // Past a block of an impossible length nothing is followed: libpcap reads no further.
    bool m_following = true;
};

#endif // PCAPNGFIRSTSECTION_H
