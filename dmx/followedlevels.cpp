#include "followedlevels.h"

#include "dmxcensus.h"

#include <algorithm>
#include <cstring>

struct FollowedLevels::Held
{
    SourceIdentity source;
    quint8 priority = 0;
    qint64 lastNs = -1; // -1: unused
    quint16 count = 0;
    uchar levels[DmxFrame::MaxChannels] = {};
};

struct FollowedLevels::Slot
{
    UniverseKey key;
    bool used = false;
    Held held[MaxSourcesPerUniverse];
};

namespace {
constexpr int BitWords = DmxProtocolCount * 65536 / 64;
constexpr qint64 SacnLiveNs = DmxCensus::SacnLiveMs * 1'000'000;
} // namespace

FollowedLevels::FollowedLevels()
    : m_followedBits(new quint64[BitWords]()), m_slots(new Slot[MaxUniverses])
{
}

FollowedLevels::~FollowedLevels() = default;

void FollowedLevels::follow(const QList<UniverseKey> &universes)
{
    const QList<UniverseKey> wanted = universes.mid(0, MaxUniverses);
    for (int index = 0; index < MaxUniverses; ++index) {
        Slot &slot = m_slots[index];
        if (slot.used && !wanted.contains(slot.key))
            slot = Slot();
    }
    std::fill_n(m_followedBits.get(), BitWords, 0);
    for (const UniverseKey &key : wanted) {
        if (!slotOf(key)) {
            Slot *free = std::find_if(m_slots.get(), m_slots.get() + MaxUniverses,
                                      [](const Slot &slot) { return !slot.used; });
            free->used = true;
            free->key = key;
        }
        const int bit = indexOf(key);
        m_followedBits[bit / 64] |= quint64(1) << (bit % 64);
    }
}

FollowedLevels::Slot *FollowedLevels::slotOf(UniverseKey universe) const
{
    for (int index = 0; index < MaxUniverses; ++index) {
        if (m_slots[index].used && m_slots[index].key == universe)
            return &m_slots[index];
    }
    return nullptr;
}

void FollowedLevels::take(const DmxFrame &frame)
{
    if (frame.malformed || !frame.universeKnown || !frame.levels || !following(frame.universe))
        return;
    Slot *slot = slotOf(frame.universe);
    Held *held = slot ? holderFor(*slot, frame) : nullptr;
    if (!held)
        return;
    held->source = frame.source;
    held->priority = frame.priority;
    held->lastNs = frame.arrivalNs;
    held->count = std::min<quint16>(frame.count, DmxFrame::MaxChannels);
    std::memcpy(held->levels, frame.levels, held->count);
}

FollowedLevels::Held *FollowedLevels::holderFor(Slot &slot, const DmxFrame &frame)
{
    if (frame.universe.protocol == DmxProtocol::ArtNet)
        return &slot.held[0];
    Held *replaceable = nullptr;
    for (Held &held : slot.held) {
        if (held.lastNs >= 0 && held.source == frame.source)
            return &held;
        const bool silent = held.lastNs < 0 || frame.arrivalNs - held.lastNs >= SacnLiveNs;
        if (silent)
            replaceable = &held;
        else if (!replaceable && held.priority < frame.priority)
            replaceable = &held;
    }
    return replaceable;
}

bool FollowedLevels::read(UniverseKey universe, qint64 nowNs, uchar *levels,
                          quint16 *length) const
{
    const Slot *slot = slotOf(universe);
    if (!slot)
        return false;
    const quint16 room = *length;
    if (universe.protocol == DmxProtocol::ArtNet) {
        const Held &held = slot->held[0];
        if (held.lastNs < 0)
            return false;
        *length = std::min(room, held.count);
        std::memcpy(levels, held.levels, *length);
        return true;
    }
    int top = -1;
    for (const Held &held : slot->held) {
        if (held.lastNs >= 0 && nowNs - held.lastNs < SacnLiveNs)
            top = std::max<int>(top, held.priority);
    }
    if (top < 0)
        return false;
    quint16 count = 0;
    std::memset(levels, 0, room);
    for (const Held &held : slot->held) {
        if (held.lastNs < 0 || nowNs - held.lastNs >= SacnLiveNs || held.priority != top)
            continue;
        const quint16 used = std::min(room, held.count);
        for (quint16 channel = 0; channel < used; ++channel)
            levels[channel] = std::max(levels[channel], held.levels[channel]);
        count = std::max(count, used);
    }
    *length = count;
    return true;
}

void FollowedLevels::clear()
{
    for (int index = 0; index < MaxUniverses; ++index) {
        for (Held &held : m_slots[index].held)
            held = Held();
    }
}
