#ifndef SOURCELEVELS_H
#define SOURCELEVELS_H

#include "dmxframe.h"
#include "levelchoice.h"
#include "universemerge.h"

#include <QList>
#include <QtGlobal>

#include <memory>

// Each source's own levels of one universe, and the merges a node makes of them. A source's
// frame drives only the channels it carries (its Length); a channel no source in the merge
// carries reads 0 and has no winner.
//
// HTP gives each channel the highest level among the sources in the merge. LTP gives it the
// level of the source whose level of that channel changed last; a source that keeps sending
// the same level does not take a channel back, and its first frame counts as a change of every
// channel it carries (so does a channel that a longer frame adds).
//
// A source is live for liveNs after its last packet and takes part in the merge for mergeNs.
// Art-Net nodes merge two sources only and ignore a third stream that arrives while they merge
// two: droppedByNode() names the sources beyond the two that joined the merge first.
//
// Bounded whatever a network sends: at most MaxSources sources, in a table made once, with a
// trace of one channel per source of TraceCapacity packets; nothing is allocated per packet.
// A source that does not fit takes the place of one out of the merge, or is counted and passed
// over.
class SourceLevels
{
public:
    static constexpr int MaxSources = 64; // as the census stores per universe
    static constexpr int TraceCapacity = 4096;
    static constexpr int NoWinner = -1;

    SourceLevels(qint64 liveNs, qint64 mergeNs);
    ~SourceLevels();
    SourceLevels(const SourceLevels &) = delete;
    SourceLevels &operator=(const SourceLevels &) = delete;

    // A frame of the universe (the caller checks it is the universe and whole); false when it
    // found no room.
    bool take(const DmxFrame &frame);
    void forget(const SourceIdentity &identity);
    // Forgets the sources out of the merge at nowNs.
    void forgetSilent(qint64 nowNs);
    void clear();
    quint64 unstoredFrames() const { return m_unstored; }

    // Stored sources by index, in order of first arrival.
    int count() const { return m_count; }
    int indexOf(const SourceIdentity &identity) const;
    const SourceIdentity &identity(int index) const;
    quint16 levelCount(int index) const;
    const quint8 *levels(int index) const;
    qint64 lastNs(int index) const;
    bool isLive(int index, qint64 nowNs) const;
    bool inMerge(int index, qint64 nowNs) const;
    // Sources that a node merging two would ignore at nowNs; false for every other.
    bool droppedByNode(int index, qint64 nowNs) const;

    // Each writes DmxFrame::MaxChannels levels and, when asked, the winner of each channel
    // (an index, or NoWinner); returns the channels from the first on that some source drives.
    int latest(quint8 *levels) const;
    int mergeHtp(qint64 nowNs, quint8 *levels, qint8 *winner = nullptr) const;
    int mergeLtp(qint64 nowNs, quint8 *levels, qint8 *winner = nullptr) const;
    // One source's frame; 0 levels when it is not stored.
    int sourceFrame(const SourceIdentity &identity, quint8 *levels) const;
    // What the choice picks of the above; -1 for a merge made elsewhere (sACN's priorities).
    int choose(const LevelChoice &choice, qint64 nowNs, quint8 *levels) const;
    // The same without a copy: the merge kept frame by frame, or else the levels written into
    // scratch (DmxFrame::MaxChannels bytes); null for a merge made elsewhere.
    const quint8 *chosen(const LevelChoice &choice, qint64 nowNs, quint8 *scratch, int *count) const;

    // The channel (0-511) each source's packets are traced for; -1 for none. A change starts
    // every trace over.
    void setTracedChannel(int channel);
    int tracedChannel() const { return m_tracedChannel; }
    QList<SourceTraceSample> trace(int index, qint64 sinceNs) const;

private:
    struct Source;

    int add(const SourceIdentity &identity, qint64 nowNs);
    void removeAt(int index);
    void storeLevels(int index, Source &source, const DmxFrame &frame, qint64 arrivalNs);
    void changeChannel(int index, Source &source, int channel, quint8 level, qint64 arrivalNs);
    void highestOfChannel(int channel, qint64 nowNs);
    void remerge(qint64 nowNs);
    bool mergesKept(qint64 nowNs) const { return !m_mergesStale && nowNs < m_mergesValidUntilNs; }
    void traceFrame(Source &source, const DmxFrame &frame, qint64 arrivalNs);
    const Source &at(int index) const;

    std::unique_ptr<Source[]> m_sources;          // slots, made once
    std::array<quint8, MaxSources> m_order = {};  // slot of each index, in order of first arrival
    std::unique_ptr<qint64[]> m_traceTimes;       // MaxSources x TraceCapacity, while tracing
    std::unique_ptr<quint8[]> m_traceLevels;
    qint64 m_liveNs;
    qint64 m_mergeNs;
    quint64 m_unstored = 0;
    // Both merges as of the last frame, kept channel by channel as frames change them so that
    // a history following a merge costs little per packet; made anew when a source leaves the
    // merge (m_mergesValidUntilNs), is forgotten or sends a shorter frame.
    std::array<quint8, DmxFrame::MaxChannels> m_htp = {};
    std::array<quint8, DmxFrame::MaxChannels> m_ltp = {};
    std::array<qint8, DmxFrame::MaxChannels> m_htpWinner = {};
    std::array<qint8, DmxFrame::MaxChannels> m_ltpWinner = {};
    qint64 m_mergesValidUntilNs = 0;
    int m_mergedCount = 0;
    bool m_mergesStale = true;
    int m_count = 0;
    int m_latestSlot = -1;
    int m_tracedChannel = -1;
};

#endif // SOURCELEVELS_H
