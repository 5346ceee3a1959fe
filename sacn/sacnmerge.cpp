#include "sacnmerge.h"
#include "sacnpackets.h"

#include <algorithm>
#include <array>
#include <cstring>

struct SacnMerge::Source
{
    SourceIdentity identity;
    qint64 lastNs = 0;
    qint64 perAddressNs = -1;    // arrival of its last 0xDD packet; -1: none
    quint16 levelCount = 0;
    quint16 priorityCount = 0;
    quint8 priority = 0;
    quint8 sequence = 0;
    std::array<quint8, DmxFrame::MaxChannels> levels = {};
    std::array<quint8, DmxFrame::MaxChannels> priorities = {};
};

SacnMerge::SacnMerge(quint16 universe)
    : m_sources(new Source[MaxSources])
    , m_universe(universe)
{
}

SacnMerge::~SacnMerge() = default;

SacnMerge::Outcome SacnMerge::take(const SacnMessage &message)
{
    const DmxFrame &frame = message.frame;
    if (message.kind != SacnMessage::Kind::Data || frame.malformed)
        return Outcome::NotData;
    if (frame.universe.number != m_universe)
        return Outcome::OtherUniverse;
    if (message.startCode != SacnMessage::StartCodeLevels
        && message.startCode != SacnMessage::StartCodePerAddressPriority)
        return Outcome::OtherStartCode;
    if (message.invalidPriority)
        return Outcome::InvalidPriority;
    if (message.preview() && !m_acceptPreview)
        return Outcome::Preview;
    Source *source = find(frame.source);
    if (source && !isLive(*source, frame.arrivalNs)) {
        remove(source);
        source = nullptr;
    }
    if (message.streamTerminated()) {
        if (source)
            remove(source);
        return Outcome::Terminated;
    }
    if (!source) {
        source = add(message);
        if (!source)
            return Outcome::TooManySources;
    } else if (SacnPackets::isOutOfOrder(source->sequence, frame.sequence)) {
        return Outcome::OutOfOrder;
    }
    store(*source, message);
    return Outcome::Taken;
}

void SacnMerge::store(Source &source, const SacnMessage &message)
{
    source.lastNs = message.frame.arrivalNs;
    source.sequence = message.frame.sequence;
    source.priority = message.frame.priority;
    if (message.startCode == SacnMessage::StartCodePerAddressPriority) {
        source.perAddressNs = message.frame.arrivalNs;
        source.priorityCount = message.slotCount;
        std::memcpy(source.priorities.data(), message.slotValues, message.slotCount);
    } else {
        source.levelCount = message.slotCount;
        std::memcpy(source.levels.data(), message.slotValues, message.slotCount);
    }
}

SacnMerge::Source *SacnMerge::find(const SourceIdentity &identity)
{
    for (int i = 0; i < m_count; ++i) {
        if (m_sources[i].identity == identity)
            return &m_sources[i];
    }
    return nullptr;
}

SacnMerge::Source *SacnMerge::add(const SacnMessage &message)
{
    if (m_count == MaxSources)
        dropLost(message.frame.arrivalNs);
    if (m_count == MaxSources)
        return nullptr;
    Source &source = m_sources[m_count++];
    source.identity = message.frame.source;
    source.perAddressNs = -1;
    source.levelCount = 0;
    source.priorityCount = 0;
    return &source;
}

void SacnMerge::remove(Source *source)
{
    Source &last = m_sources[m_count - 1];
    if (source != &last)
        *source = last;
    --m_count;
}

void SacnMerge::dropLost(qint64 nowNs)
{
    for (int i = m_count - 1; i >= 0; --i) {
        if (!isLive(m_sources[i], nowNs))
            remove(&m_sources[i]);
    }
}

bool SacnMerge::isLive(const Source &source, qint64 nowNs)
{
    return nowNs - source.lastNs < SourceLossNs;
}

// A source's priority at each slot it drives, plus one so that universe priority 0 still
// drives: its universe priority, or while it sends them its per-address priorities, where 0
// leaves the slot to others.
void SacnMerge::mergeSource(const Source &source, qint64 nowNs, uchar *levels, quint16 *best,
                            qint8 *winner, qint8 index)
{
    const bool perAddress = source.perAddressNs >= 0 && nowNs - source.perAddressNs < SourceLossNs;
    for (int slot = 0; slot < source.levelCount; ++slot) {
        int priority = source.priority + 1;
        if (perAddress)
            priority = slot < source.priorityCount && source.priorities[slot] != 0
                    ? source.priorities[slot] + 1 : 0;
        if (priority == 0 || priority < best[slot])
            continue;
        const quint8 level = source.levels[slot];
        const bool wins = priority > best[slot] || level > levels[slot];
        levels[slot] = priority > best[slot] ? level : std::max(levels[slot], level);
        best[slot] = quint16(priority);
        if (winner && wins)
            winner[slot] = index;
    }
}

// A universe on show is merged after every packet that changes it, so source by source rather
// than slot by slot, and most universes have one source: its levels as they are.
int SacnMerge::merge(qint64 nowNs, uchar *levels, qint8 *winner) const
{
    std::memset(levels, 0, DmxFrame::MaxChannels);
    if (winner)
        std::memset(winner, -1, DmxFrame::MaxChannels);
    int only = -1;
    int live = 0;
    for (int i = 0; i < m_count; ++i) {
        if (isLive(m_sources[i], nowNs)) {
            only = i;
            ++live;
        }
    }
    const Source *single = live == 1 ? &m_sources[only] : nullptr;
    if (single && (single->perAddressNs < 0 || nowNs - single->perAddressNs >= SourceLossNs)) {
        std::memcpy(levels, single->levels.data(), single->levelCount);
        if (winner)
            std::memset(winner, only, single->levelCount);
        return single->levelCount;
    }
    std::array<quint16, DmxFrame::MaxChannels> best = {};
    for (int i = 0; i < m_count; ++i) {
        if (isLive(m_sources[i], nowNs))
            mergeSource(m_sources[i], nowNs, levels, best.data(), winner, qint8(i));
    }
    int driven = DmxFrame::MaxChannels;
    while (driven > 0 && best[size_t(driven - 1)] == 0)
        --driven;
    return driven;
}

const SourceIdentity &SacnMerge::sourceIdentity(int index) const
{
    return m_sources[index].identity;
}

quint8 SacnMerge::sourcePriority(int index) const
{
    return m_sources[index].priority;
}

int SacnMerge::liveSources(qint64 nowNs) const
{
    return int(std::count_if(m_sources.get(), m_sources.get() + m_count,
                             [nowNs](const Source &source) { return isLive(source, nowNs); }));
}
