#include "sourcelevels.h"

#include "monotonicclock.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>

struct SourceLevels::Source
{
    SourceIdentity identity;
    qint64 lastNs = 0;
    qint64 joinedNs = 0;  // the packet that brought it into the merge this time
    quint64 packets = 0;
    quint16 count = 0;
    int traceNext = 0;
    int traceSize = 0;
    std::array<quint8, DmxFrame::MaxChannels> levels = {};
    std::array<qint64, DmxFrame::MaxChannels> changedNs = {};
};

SourceLevels::SourceLevels(qint64 liveNs, qint64 mergeNs)
    : m_sources(new Source[MaxSources]), m_liveNs(liveNs), m_mergeNs(mergeNs)
{
    for (int slot = 0; slot < MaxSources; ++slot)
        m_order[size_t(slot)] = quint8(slot);
}

SourceLevels::~SourceLevels() = default;

const SourceLevels::Source &SourceLevels::at(int index) const
{
    return m_sources[m_order[size_t(index)]];
}

int SourceLevels::indexOf(const SourceIdentity &identity) const
{
    for (int index = 0; index < m_count; ++index) {
        if (at(index).identity == identity)
            return index;
    }
    return -1;
}

bool SourceLevels::take(const DmxFrame &frame)
{
    const qint64 arrivalNs = frame.arrivalNs >= 0 ? frame.arrivalNs : MonotonicClock::nowNs();
    int index = indexOf(frame.source);
    if (index < 0)
        index = add(frame.source, arrivalNs);
    if (index < 0) {
        ++m_unstored;
        return false;
    }
    const int slot = m_order[size_t(index)];
    Source &source = m_sources[slot];
    if (source.packets == 0 || arrivalNs - source.lastNs >= m_mergeNs) {
        source.joinedNs = arrivalNs;
        m_mergesStale = true; // it joins the merge with levels it may have sent long ago
    }
    storeLevels(index, source, frame, arrivalNs);
    if (m_tracedChannel >= 0)
        traceFrame(source, frame, arrivalNs);
    source.lastNs = std::max(source.lastNs, arrivalNs);
    ++source.packets;
    if (!mergesKept(arrivalNs))
        remerge(arrivalNs);
    m_latestSlot = slot;
    return true;
}

// Most frames repeat most of the previous one: eight channels are compared at a time, and only
// the channels that changed are looked at one by one.
void SourceLevels::storeLevels(int index, Source &source, const DmxFrame &frame, qint64 arrivalNs)
{
    const quint16 count = std::min<quint16>(frame.count, DmxFrame::MaxChannels);
    const quint16 known = source.packets == 0 ? 0 : std::min(source.count, count);
    if (count < source.count)
        m_mergesStale = true; // the channels it no longer carries go to others
    const bool kept = mergesKept(arrivalNs);
    const qint8 mergeIndex = kept ? qint8(index) : qint8(NoWinner);
    for (int word = 0; word + 8 <= known; word += 8) {
        // Byte n of the difference is channel word + n, whatever the processor's byte order.
        quint64 differ = qFromLittleEndian<quint64>(source.levels.data() + word)
                ^ qFromLittleEndian<quint64>(frame.levels + word);
        while (differ) {
            const int byte = qCountTrailingZeroBits(differ) / 8;
            differ &= ~(quint64(0xFF) << (byte * 8));
            changeChannel(mergeIndex, source, word + byte, frame.levels[word + byte], arrivalNs);
        }
    }
    for (int channel = known & ~7; channel < known; ++channel) {
        if (source.levels[size_t(channel)] != frame.levels[channel])
            changeChannel(mergeIndex, source, channel, frame.levels[channel], arrivalNs);
    }
    for (int channel = known; channel < count; ++channel)
        changeChannel(mergeIndex, source, channel, frame.levels[channel], arrivalNs);
    source.count = count;
    if (kept)
        m_mergedCount = std::max<int>(m_mergedCount, count);
}

// index is NoWinner while the merges are to be made anew anyway.
void SourceLevels::changeChannel(int index, Source &source, int channel, quint8 level,
                                 qint64 arrivalNs)
{
    source.levels[size_t(channel)] = level;
    source.changedNs[size_t(channel)] = arrivalNs;
    if (index == NoWinner)
        return;
    m_ltp[size_t(channel)] = level;
    m_ltpWinner[size_t(channel)] = qint8(index);
    const int highest = m_htpWinner[size_t(channel)];
    if (highest == NoWinner || level > m_htp[size_t(channel)]
        || (level == m_htp[size_t(channel)] && index < highest)) {
        m_htp[size_t(channel)] = level;
        m_htpWinner[size_t(channel)] = qint8(index);
    } else if (highest == index) {
        highestOfChannel(channel, arrivalNs); // it was the highest and went down
    }
}

void SourceLevels::highestOfChannel(int channel, qint64 nowNs)
{
    m_htp[size_t(channel)] = 0;
    m_htpWinner[size_t(channel)] = NoWinner;
    for (int index = 0; index < m_count; ++index) {
        const Source &source = at(index);
        if (channel >= source.count || !inMerge(index, nowNs))
            continue;
        const quint8 level = source.levels[size_t(channel)];
        if (m_htpWinner[size_t(channel)] == NoWinner || level > m_htp[size_t(channel)]) {
            m_htp[size_t(channel)] = level;
            m_htpWinner[size_t(channel)] = qint8(index);
        }
    }
}

void SourceLevels::remerge(qint64 nowNs)
{
    m_mergedCount = mergeHtp(nowNs, m_htp.data(), m_htpWinner.data());
    mergeLtp(nowNs, m_ltp.data(), m_ltpWinner.data());
    m_mergesValidUntilNs = std::numeric_limits<qint64>::max();
    for (int index = 0; index < m_count; ++index) {
        if (inMerge(index, nowNs))
            m_mergesValidUntilNs = std::min(m_mergesValidUntilNs, at(index).lastNs + m_mergeNs);
    }
    m_mergesStale = false;
}

void SourceLevels::traceFrame(Source &source, const DmxFrame &frame, qint64 arrivalNs)
{
    if (m_tracedChannel >= frame.count)
        return;
    const size_t sample = size_t(&source - m_sources.get()) * TraceCapacity + size_t(source.traceNext);
    m_traceTimes[sample] = arrivalNs;
    m_traceLevels[sample] = frame.levels[m_tracedChannel];
    source.traceNext = (source.traceNext + 1) % TraceCapacity;
    source.traceSize = std::min(source.traceSize + 1, TraceCapacity);
}

// The free slots are kept behind the used ones in m_order.
int SourceLevels::add(const SourceIdentity &identity, qint64 nowNs)
{
    if (m_count == MaxSources)
        forgetSilent(nowNs);
    if (m_count == MaxSources)
        return -1;
    Source &source = m_sources[m_order[size_t(m_count)]];
    source.identity = identity;
    source.packets = 0;
    source.count = 0;
    source.lastNs = nowNs;
    source.traceNext = 0;
    source.traceSize = 0;
    return m_count++;
}

void SourceLevels::removeAt(int index)
{
    const quint8 slot = m_order[size_t(index)];
    if (slot == m_latestSlot)
        m_latestSlot = -1;
    m_mergesStale = true; // the winners are indices
    std::copy(m_order.begin() + index + 1, m_order.begin() + m_count, m_order.begin() + index);
    m_order[size_t(--m_count)] = slot;
}

void SourceLevels::forget(const SourceIdentity &identity)
{
    const int index = indexOf(identity);
    if (index >= 0)
        removeAt(index);
}

void SourceLevels::forgetSilent(qint64 nowNs)
{
    for (int index = m_count - 1; index >= 0; --index) {
        if (!inMerge(index, nowNs))
            removeAt(index);
    }
}

void SourceLevels::clear()
{
    m_count = 0;
    m_latestSlot = -1;
    m_mergesStale = true;
    m_unstored = 0;
    for (int slot = 0; slot < MaxSources; ++slot)
        m_order[size_t(slot)] = quint8(slot);
}

const SourceIdentity &SourceLevels::identity(int index) const
{
    return at(index).identity;
}

quint16 SourceLevels::levelCount(int index) const
{
    return at(index).count;
}

const quint8 *SourceLevels::levels(int index) const
{
    return at(index).levels.data();
}

qint64 SourceLevels::lastNs(int index) const
{
    return at(index).lastNs;
}

bool SourceLevels::isLive(int index, qint64 nowNs) const
{
    return at(index).packets > 0 && nowNs - at(index).lastNs < m_liveNs;
}

bool SourceLevels::inMerge(int index, qint64 nowNs) const
{
    return at(index).packets > 0 && nowNs - at(index).lastNs < m_mergeNs;
}

bool SourceLevels::droppedByNode(int index, qint64 nowNs) const
{
    if (!inMerge(index, nowNs))
        return false;
    const qint64 joined = at(index).joinedNs;
    int earlier = 0;
    for (int other = 0; other < m_count; ++other) {
        if (other == index || !inMerge(other, nowNs))
            continue;
        const qint64 otherJoined = at(other).joinedNs;
        if (otherJoined < joined || (otherJoined == joined && other < index))
            ++earlier;
    }
    return earlier >= 2;
}

int SourceLevels::latest(quint8 *levels) const
{
    std::memset(levels, 0, DmxFrame::MaxChannels);
    if (m_latestSlot < 0)
        return 0;
    const Source &source = m_sources[m_latestSlot];
    std::memcpy(levels, source.levels.data(), source.count);
    return source.count;
}

int SourceLevels::sourceFrame(const SourceIdentity &identity, quint8 *levels) const
{
    std::memset(levels, 0, DmxFrame::MaxChannels);
    const int index = indexOf(identity);
    if (index < 0)
        return 0;
    std::memcpy(levels, at(index).levels.data(), at(index).count);
    return at(index).count;
}

int SourceLevels::choose(const LevelChoice &choice, qint64 nowNs, quint8 *levels) const
{
    switch (choice.kind) {
    case LevelChoice::Kind::LatestPacket:
        return latest(levels);
    case LevelChoice::Kind::MergedHtp:
        if (!mergesKept(nowNs))
            return mergeHtp(nowNs, levels);
        std::memcpy(levels, m_htp.data(), DmxFrame::MaxChannels);
        return m_mergedCount;
    case LevelChoice::Kind::MergedLtp:
        if (!mergesKept(nowNs))
            return mergeLtp(nowNs, levels);
        std::memcpy(levels, m_ltp.data(), DmxFrame::MaxChannels);
        return m_mergedCount;
    case LevelChoice::Kind::Source:
        return sourceFrame(choice.source, levels);
    case LevelChoice::Kind::MergedPriorityHtp:
        break;
    }
    return -1;
}

const quint8 *SourceLevels::chosen(const LevelChoice &choice, qint64 nowNs, quint8 *scratch,
                                   int *count) const
{
    if (mergesKept(nowNs) && choice.kind == LevelChoice::Kind::MergedHtp) {
        *count = m_mergedCount;
        return m_htp.data();
    }
    if (mergesKept(nowNs) && choice.kind == LevelChoice::Kind::MergedLtp) {
        *count = m_mergedCount;
        return m_ltp.data();
    }
    *count = choose(choice, nowNs, scratch);
    return *count >= 0 ? scratch : nullptr;
}

int SourceLevels::mergeHtp(qint64 nowNs, quint8 *levels, qint8 *winner) const
{
    std::memset(levels, 0, DmxFrame::MaxChannels);
    std::array<qint8, DmxFrame::MaxChannels> highest;
    highest.fill(NoWinner);
    int driven = 0;
    for (int index = 0; index < m_count; ++index) {
        if (!inMerge(index, nowNs))
            continue;
        const Source &source = at(index);
        for (int channel = 0; channel < source.count; ++channel) {
            const quint8 level = source.levels[size_t(channel)];
            if (highest[size_t(channel)] == NoWinner || level > levels[channel]) {
                levels[channel] = level;
                highest[size_t(channel)] = qint8(index);
            }
        }
        driven = std::max<int>(driven, source.count);
    }
    if (winner)
        std::memcpy(winner, highest.data(), DmxFrame::MaxChannels);
    return driven;
}

// Equal change times go to the source whose packet came last.
static bool changedLater(qint64 changedNs, qint64 lastNs, qint64 otherChangedNs, qint64 otherLastNs)
{
    return changedNs > otherChangedNs || (changedNs == otherChangedNs && lastNs > otherLastNs);
}

int SourceLevels::mergeLtp(qint64 nowNs, quint8 *levels, qint8 *winner) const
{
    std::memset(levels, 0, DmxFrame::MaxChannels);
    std::array<qint8, DmxFrame::MaxChannels> latest;
    latest.fill(NoWinner);
    int driven = 0;
    for (int index = 0; index < m_count; ++index) {
        if (!inMerge(index, nowNs))
            continue;
        const Source &source = at(index);
        for (int channel = 0; channel < source.count; ++channel) {
            const int best = latest[size_t(channel)];
            if (best == NoWinner
                || changedLater(source.changedNs[size_t(channel)], source.lastNs,
                                at(best).changedNs[size_t(channel)], at(best).lastNs)) {
                latest[size_t(channel)] = qint8(index);
                levels[channel] = source.levels[size_t(channel)];
            }
        }
        driven = std::max<int>(driven, source.count);
    }
    if (winner)
        std::memcpy(winner, latest.data(), DmxFrame::MaxChannels);
    return driven;
}

void SourceLevels::setTracedChannel(int channel)
{
    if (channel < -1 || channel >= DmxFrame::MaxChannels)
        channel = -1;
    if (channel == m_tracedChannel)
        return;
    if (channel >= 0 && !m_traceTimes) {
        m_traceTimes.reset(new qint64[size_t(MaxSources) * TraceCapacity]);
        m_traceLevels.reset(new quint8[size_t(MaxSources) * TraceCapacity]);
    }
    m_tracedChannel = channel;
    for (int slot = 0; slot < MaxSources; ++slot) {
        m_sources[slot].traceNext = 0;
        m_sources[slot].traceSize = 0;
    }
}

QList<SourceTraceSample> SourceLevels::trace(int index, qint64 sinceNs) const
{
    QList<SourceTraceSample> samples;
    if (index < 0 || index >= m_count || !m_traceTimes)
        return samples;
    const Source &source = at(index);
    const size_t base = size_t(m_order[size_t(index)]) * TraceCapacity;
    const int oldest = (source.traceNext - source.traceSize + TraceCapacity) % TraceCapacity;
    for (int i = 0; i < source.traceSize; ++i) {
        const size_t sample = base + size_t((oldest + i) % TraceCapacity);
        if (m_traceTimes[sample] >= sinceNs)
            samples.append(SourceTraceSample{m_traceTimes[sample], m_traceLevels[sample]});
    }
    return samples;
}
