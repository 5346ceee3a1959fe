#ifndef FOLLOWEDLEVELS_H
#define FOLLOWEDLEVELS_H

#include "dmxframe.h"

#include <QList>
#include <QtGlobal>

#include <memory>

// The latest levels of a few universes chosen by a reader (the phone view's pages), beside the
// universe on show, which the engines keep for themselves. Fed every decoded frame on the
// receive path: a frame of a universe nobody follows costs one bit test; nothing is allocated
// after construction.
//
// Art-Net gives the latest packet, whatever its source, as the window does. sACN keeps up to
// MaxSourcesPerUniverse sources of a universe and gives the highest priority among the live
// ones (a packet in the last 2.5 s), the highest level of each slot among sources of that
// priority; a further source takes the place of a silent one, or of a lower priority one when
// its own is higher, else it is passed over until one goes silent.
class FollowedLevels
{
public:
    static constexpr int MaxUniverses = 16;
    static constexpr int MaxSourcesPerUniverse = 4;

    FollowedLevels();
    ~FollowedLevels();
    FollowedLevels(const FollowedLevels &) = delete;
    FollowedLevels &operator=(const FollowedLevels &) = delete;

    // The universes followed from now on, the first MaxUniverses of them; the levels of those
    // already followed are kept.
    void follow(const QList<UniverseKey> &universes);
    bool following(UniverseKey universe) const
    {
        const int bit = indexOf(universe);
        return (m_followedBits[bit / 64] >> (bit % 64)) & 1;
    }
    void take(const DmxFrame &frame);
    // The universe's levels as of nowNs; false when it is not followed or no levels arrived.
    // length in: room in levels, out: bytes copied.
    bool read(UniverseKey universe, qint64 nowNs, uchar *levels, quint16 *length) const;
    void clear();

private:
    struct Held;
    struct Slot;

    Slot *slotOf(UniverseKey universe) const;
    static Held *holderFor(Slot &slot, const DmxFrame &frame);
    static int indexOf(UniverseKey key) { return int(key.protocol) * 65536 + key.number; }

    std::unique_ptr<quint64[]> m_followedBits; // one bit per protocol and universe number
    std::unique_ptr<Slot[]> m_slots;
};

#endif // FOLLOWEDLEVELS_H
