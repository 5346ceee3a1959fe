#ifndef SACNMERGE_H
#define SACNMERGE_H

#include "sacnmessage.h"

#include <QtGlobal>

#include <memory>

// The levels of one sACN universe as a receiver outputs them when several sources send it. Per
// slot, only the live sources of the highest priority take part: a source's universe priority,
// or, while it sends per-address priority (start code 0xDD), its priority for that slot, where
// 0 means the source does not drive that slot. Among those the highest level wins (HTP). A
// source drives only the slots its last level packet carried.
//
// A source is lost 2.5 s after its last data packet, or at its first stream-terminated packet
// (whatever that packet's sequence: a sender that says it stops has stopped; the repeats it
// sends after it find no source left). Per-address priority stays in force until 2.5 s pass
// without a 0xDD packet. Preview data takes part only when asked for; a priority above 200, any
// other start code, another universe and a packet out of order (SacnPackets::isOutOfOrder) are
// passed over.
//
// Bounded whatever a network sends: at most MaxSources sources, held in a table made once;
// nothing is allocated per packet.
class SacnMerge
{
public:
    static constexpr int MaxSources = 64;
    static constexpr qint64 SourceLossNs = 2'500'000'000;

    enum class Outcome : quint8 {
        Taken,
        NotData,          // malformed, sync or discovery
        OtherUniverse,
        OtherStartCode,
        InvalidPriority,
        Preview,
        OutOfOrder,
        Terminated,
        TooManySources,
    };

    explicit SacnMerge(quint16 universe);
    ~SacnMerge();
    SacnMerge(const SacnMerge &) = delete;
    SacnMerge &operator=(const SacnMerge &) = delete;

    quint16 universe() const { return m_universe; }
    void setAcceptPreview(bool accept) { m_acceptPreview = accept; }

    // A decoded message; its frame's arrival time is the clock of everything here.
    Outcome take(const SacnMessage &message);
    // Writes the merged level of every slot (DmxFrame::MaxChannels bytes; 0 where no live source
    // drives a slot) as of nowNs, and returns how many slots from the first on some live source
    // drives.
    int merge(qint64 nowNs, uchar *levels) const { return merge(nowNs, levels, nullptr); }
    // The same, with the source that gives each slot its level (an index below
    // sourceCount(), or -1 where none does); among equals, the first.
    int merge(qint64 nowNs, uchar *levels, qint8 *winner) const;
    int sourceCount() const { return m_count; }
    const SourceIdentity &sourceIdentity(int index) const;
    quint8 sourcePriority(int index) const;
    int liveSources(qint64 nowNs) const;
    void clear() { m_count = 0; }

private:
    struct Source;

    Source *find(const SourceIdentity &identity);
    Source *add(const SacnMessage &message);
    void remove(Source *source);
    void dropLost(qint64 nowNs);
    static void store(Source &source, const SacnMessage &message);
    static bool isLive(const Source &source, qint64 nowNs);
    static void mergeSource(const Source &source, qint64 nowNs, uchar *levels, quint16 *best,
                            qint8 *winner, qint8 index);

    std::unique_ptr<Source[]> m_sources;
    int m_count = 0;
    quint16 m_universe = 0;
    bool m_acceptPreview = false;
};

#endif // SACNMERGE_H
