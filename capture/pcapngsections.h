#ifndef PCAPNGSECTIONS_H
#define PCAPNGSECTIONS_H

#include <QtGlobal>

#include <cstdio>

// A pcapng file may hold several sections (captures written one after the other, each with its
// own header and interfaces). libpcap reads them in turn, but once it has read a later section's
// header it no longer knows the earlier section's interfaces, so a record of the earlier section
// read again after a seek back comes out wrong or not at all. This tells where libpcap passed a
// section header, by walking the block headers it read, so that the reader can keep to the first
// section and put libpcap back into it.
class PcapngSections
{
public:
    // Looks at the start of the stream, then puts its position back.
    void inspect(FILE *stream);
    bool isPcapng() const { return m_pcapng; }
    // Whether the blocks from from to to (stream offsets of block boundaries) hold a section
    // header; the one at from itself counts unless skipFirst. Puts the position back to to.
    bool headerBetween(FILE *stream, qint64 from, qint64 to, bool skipFirst) const;
    // The size of an Enhanced Packet Block without options for that many captured bytes: a read
    // that advanced the stream by exactly this passed no other block.
    static qint64 plainPacketBlockSize(quint32 captured);

private:
    quint32 readWord(const quint8 *bytes) const;

    bool m_pcapng = false;
    bool m_bigEndian = false;
};

#endif // PCAPNGSECTIONS_H
