#include "dmxcensus.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

namespace {

// The rate is counted in buckets of 100 ms: the last ten whole buckets are the last second,
// the eleventh is the one filling now.
constexpr qint64 BucketMs = 100;
constexpr int WholeBuckets = 10;
constexpr int Buckets = WholeBuckets + 1;

constexpr int SenderSlots = 2 * DmxCensus::MaxSenders; // half full at most: probes end soon
constexpr int UnstoredBits = 1 << 20;
constexpr int UniverseKeys = DmxProtocolCount * (1 << 16);

quint32 mix(quint32 value)
{
    value ^= value >> 16;
    value *= 0x7feb352dU;
    value ^= value >> 15;
    value *= 0x846ca68bU;
    value ^= value >> 16;
    return value;
}

} // namespace

struct DmxCensus::Source
{
    SourceIdentity identity;
    quint8 priority = 0;
    quint8 lastSequence = 0;   // 0: no expectation for the next packet
    quint16 lastLength = 0;
    int next = -1;             // next source of the same universe
    int sender = -1;           // its sender address's slot, -1 when that table was full
    qint64 firstSeenMs = 0;
    qint64 lastSeenMs = 0;
    quint64 packets = 0;
    quint32 gaps = 0;
    quint32 outOfOrder = 0;
    qint64 newestBucket = 0;
    quint32 buckets[Buckets] = {};
    // Health: the intervals between its frames (arrival times in us), and what stood out.
    qint64 previousUs = -1;
    qint64 longestGapUs = 0;
    quint32 stutters = 0;
    qint64 longestStutterUs = 0;
    qint64 lastStutterUs = 0;
    qint64 silenceEndMs = -1;
    qint64 silenceMs = 0;
};

struct DmxCensus::Universe
{
    UniverseKey key;
    int first = -1;
    int last = -1;
    int lastHit = -1;          // most packets come from the source of the packet before
    int count = 0;
    quint32 more = 0;
    qint64 lastSeenMs = 0;
};

struct DmxCensus::Sender
{
    quint32 address = 0;
    bool used = false;
    bool syncSeen = false;
    qint64 lastSyncMs = 0;
    quint64 malformed = 0;
    int sources = 0;           // stored sources from this address
};

static_assert(std::is_trivially_copyable_v<IntervalHistogram>,
              "the histograms are made zeroed, not constructed");

void DmxCensus::FreeDeleter::operator()(void *memory) const
{
    std::free(memory);
}

DmxCensus::DmxCensus()
    : m_sources(new Source[MaxSources]),
      m_intervals(static_cast<IntervalHistogram *>(std::calloc(MaxSources, sizeof(IntervalHistogram)))),
      m_universes(new Universe[MaxUniverses]),
      m_senders(new Sender[SenderSlots]),
      m_universeIndex(new quint16[DmxProtocolCount * NumbersPerProtocol]()),
      m_unstoredSeen(new quint64[UnstoredBits / 64]()),
      m_unlistedSeen(new quint64[UniverseKeys / 64]()),
      m_keptSlot(new int[MaxSources]())
{
    if (!m_intervals)
        throw std::bad_alloc();
}

DmxCensus::~DmxCensus() = default;

void DmxCensus::clear()
{
    // Slots beyond the counts are made afresh when taken: only the used ones are reset.
    std::fill_n(m_sources.get(), m_sourceCount, Source());
    std::fill_n(m_intervals.get(), m_sourceCount, IntervalHistogram());
    std::fill_n(m_universes.get(), m_universeCount, Universe());
    std::fill_n(m_senders.get(), SenderSlots, Sender());
    std::memset(m_universeIndex.get(), 0, DmxProtocolCount * NumbersPerProtocol * sizeof(quint16));
    m_sourceCount = 0;
    m_universeCount = 0;
    m_senderCount = 0;
    m_malformedDmx = 0;
    forgetUnstored();
}

void DmxCensus::recordFrame(const DmxFrame &frame, qint64 nowMs)
{
    if (frame.malformed || !frame.universeKnown) {
        recordMalformed(frame.source.address);
        return;
    }
    Universe *universe = universeFor(frame.universe, nowMs);
    if (!universe) {
        if (firstTimeUnstored(frame.universe, frame.source))
            ++m_unstoredSources;
        if (firstTimeUnlisted(frame.universe))
            ++m_unlistedUniverses;
        return;
    }
    universe->lastSeenMs = std::max(universe->lastSeenMs, nowMs);
    Source *source = sourceFor(*universe, frame, nowMs);
    if (!source) {
        if (firstTimeUnstored(frame.universe, frame.source)) {
            // "(+n)" beside a universe counts its own senders beyond its bound, not those that
            // found the whole table full.
            if (universe->count >= MaxSourcesPerUniverse)
                ++universe->more;
            ++m_unstoredSources;
        }
        return;
    }
    countSequence(*source, frame.sequence, nowMs);
    countRate(*source, nowMs);
    countInterval(*source, frame, nowMs);
    // A datagram handled after a later one (read from the queue after one handled at once)
    // does not take "last seen" back.
    source->lastSeenMs = std::max(source->lastSeenMs, nowMs);
    ++source->packets;
    source->lastLength = frame.lengthField;
    source->priority = frame.priority;
}

void DmxCensus::recordMalformed(quint32 sender)
{
    ++m_malformedDmx;
    if (Sender *from = senderFor(sender))
        ++from->malformed;
}

void DmxCensus::recordSync(quint32 sender, qint64 nowMs)
{
    if (Sender *from = senderFor(sender)) {
        from->syncSeen = true;
        from->lastSyncMs = nowMs;
    }
}

DmxCensus::Universe *DmxCensus::universeFor(UniverseKey key, qint64 nowMs)
{
    const quint16 slot = m_universeIndex[indexOf(key)];
    if (slot != 0)
        return &m_universes[slot - 1];
    if (m_universeCount >= MaxUniverses)
        return nullptr;
    Universe &universe = m_universes[m_universeCount++];
    universe = Universe();
    universe.key = key;
    universe.lastSeenMs = nowMs;
    m_universeIndex[indexOf(key)] = quint16(m_universeCount);
    return &universe;
}

DmxCensus::Source *DmxCensus::sourceFor(Universe &universe, const DmxFrame &frame, qint64 nowMs)
{
    if (universe.lastHit >= 0) {
        Source &hit = m_sources[universe.lastHit];
        if (hit.identity == frame.source)
            return &hit;
    }
    for (int i = universe.first; i >= 0; i = m_sources[i].next) {
        Source &source = m_sources[i];
        if (source.identity == frame.source) {
            universe.lastHit = i;
            return &source;
        }
    }
    if (universe.count >= MaxSourcesPerUniverse || m_sourceCount >= MaxSources)
        return nullptr;
    const int index = m_sourceCount++;
    Source &source = m_sources[index];
    source = Source();
    m_intervals[index] = IntervalHistogram();
    source.identity = frame.source;
    source.firstSeenMs = nowMs;
    source.lastSeenMs = nowMs;
    source.newestBucket = nowMs / BucketMs;
    Sender *sender = senderFor(frame.source.address);
    source.sender = sender ? int(sender - m_senders.get()) : -1;
    if (sender)
        ++sender->sources;
    if (universe.last >= 0)
        m_sources[universe.last].next = index;
    else
        universe.first = index;
    universe.last = index;
    universe.lastHit = index;
    ++universe.count;
    return &source;
}

DmxCensus::Sender *DmxCensus::senderFor(quint32 address)
{
    for (quint32 probe = mix(address) % SenderSlots;; probe = (probe + 1) % SenderSlots) {
        Sender &sender = m_senders[probe];
        if (sender.used && sender.address == address)
            return &sender;
        if (sender.used)
            continue;
        if (m_senderCount >= MaxSenders)
            return nullptr;
        ++m_senderCount;
        sender = Sender();
        sender.used = true;
        sender.address = address;
        return &sender;
    }
}

const DmxCensus::Sender *DmxCensus::findSender(quint32 address) const
{
    for (quint32 probe = mix(address) % SenderSlots;; probe = (probe + 1) % SenderSlots) {
        const Sender &slot = m_senders[probe];
        if (!slot.used)
            return nullptr;
        if (slot.address == address)
            return &slot;
    }
}

std::optional<qint64> DmxCensus::lastSeenMs(UniverseKey key) const
{
    const quint16 slot = m_universeIndex[indexOf(key)];
    if (slot == 0)
        return std::nullopt;
    return m_universes[slot - 1].lastSeenMs;
}

quint64 DmxCensus::malformedFrom(quint32 sender) const
{
    const Sender *from = findSender(sender);
    return from ? from->malformed : 0;
}

quint64 DmxCensus::malformedWithoutSource() const
{
    quint64 count = 0;
    for (int i = 0; i < SenderSlots; ++i) {
        const Sender &sender = m_senders[i];
        if (sender.used && sender.sources == 0)
            count += sender.malformed;
    }
    return count;
}

// A source beyond the bounds is counted once however often it sends, by a bit of its own in a
// fixed set; once very many were counted, two may share a bit, so the count is a lower bound.
bool DmxCensus::firstTimeUnstored(UniverseKey key, const SourceIdentity &source)
{
    quint32 who = source.address;
    if (source.protocol != DmxProtocol::ArtNet) {
        for (int i = 0; i < SourceIdentity::CidSize; i += 4)
            who ^= mix(quint32(source.cid[i]) << 24 | quint32(source.cid[i + 1]) << 16
                       | quint32(source.cid[i + 2]) << 8 | source.cid[i + 3]);
    }
    const quint32 where = quint32(indexOf(key)) << 8 | source.physical;
    const quint32 hash = mix(mix(who) ^ where) % UnstoredBits;
    quint64 &word = m_unstoredSeen[hash / 64];
    const quint64 bit = quint64(1) << (hash % 64);
    if (word & bit)
        return false;
    word |= bit;
    return true;
}

bool DmxCensus::firstTimeUnlisted(UniverseKey key)
{
    const int index = indexOf(key);
    quint64 &word = m_unlistedSeen[index / 64];
    const quint64 bit = quint64(1) << (index % 64);
    if (word & bit)
        return false;
    word |= bit;
    return true;
}

void DmxCensus::forgetSilent(qint64 nowMs)
{
    dropSilentSources(nowMs);
    dropUniversesWithoutSource(nowMs);
    forgetUnstored();
}

// In place: the kept sources move down to the first slots, in their order, and every list
// follows them; the scratch table of new slots was made with the census.
void DmxCensus::dropSilentSources(qint64 nowMs)
{
    int kept = 0;
    for (int i = 0; i < m_sourceCount; ++i) {
        const Source &source = m_sources[i];
        const bool live = nowMs - source.lastSeenMs < liveMs(source.identity.protocol);
        m_keptSlot[i] = live ? kept++ : -1;
        if (!live && source.sender >= 0)
            --m_senders[source.sender].sources;
    }
    for (int u = 0; u < m_universeCount; ++u)
        relinkKeptSources(m_universes[u]);
    for (int i = 0; i < m_sourceCount; ++i) {
        if (m_keptSlot[i] >= 0 && m_keptSlot[i] != i) {
            m_sources[m_keptSlot[i]] = m_sources[i];
            m_intervals[m_keptSlot[i]] = m_intervals[i];
        }
    }
    m_sourceCount = kept;
}

// Links the universe's kept sources by their new slots; the old ones are still in place.
void DmxCensus::relinkKeptSources(Universe &universe)
{
    int previous = -1; // old slot of the last kept source
    int i = universe.first;
    universe.first = universe.last = universe.lastHit = -1;
    universe.count = 0;
    while (i >= 0) {
        const int next = m_sources[i].next;
        if (m_keptSlot[i] >= 0) {
            if (previous >= 0)
                m_sources[previous].next = m_keptSlot[i];
            else
                universe.first = m_keptSlot[i];
            universe.last = m_keptSlot[i];
            ++universe.count;
            previous = i;
        }
        i = next;
    }
    if (previous >= 0)
        m_sources[previous].next = -1;
}

void DmxCensus::dropUniversesWithoutSource(qint64 nowMs)
{
    int kept = 0;
    for (int u = 0; u < m_universeCount; ++u) {
        const Universe &universe = m_universes[u];
        const int index = indexOf(universe.key);
        if (universe.count == 0 && nowMs - universe.lastSeenMs >= liveMs(universe.key.protocol)) {
            m_universeIndex[index] = 0;
            continue;
        }
        if (kept != u)
            m_universes[kept] = universe;
        m_universeIndex[index] = quint16(++kept);
    }
    m_universeCount = kept;
}

void DmxCensus::forgetUnstored()
{
    std::memset(m_unstoredSeen.get(), 0, UnstoredBits / 8);
    std::memset(m_unlistedSeen.get(), 0, UniverseKeys / 8);
    for (int u = 0; u < m_universeCount; ++u)
        m_universes[u].more = 0;
    m_unstoredSources = 0;
    m_unlistedUniverses = 0;
}

// Sequence numbers run 1 to 255 and wrap to 1; 0 means the sender does not number its packets.
// A repeat of the last number, or one up to OutOfOrderWindow behind it, arrived out of order and
// leaves the expectation as it was. Any other number than the successor means packets were lost
// or the sender started afresh (a console restarted): one gap, and the count follows the new
// number, so that a restart is one error and not one for every packet until the old number
// comes round again. A sender silent for as long as its protocol calls it lost starts afresh
// unnoticed.
void DmxCensus::countSequence(Source &source, quint8 sequence, qint64 nowMs)
{
    constexpr int OutOfOrderWindow = 20;
    if (sequence == 0) {
        source.lastSequence = 0;
        return;
    }
    if (source.lastSequence != 0 && nowMs - source.lastSeenMs < liveMs(source.identity.protocol)) {
        const int ahead = (int(sequence) - int(source.lastSequence) + 255) % 255;
        if (ahead == 0 || ahead >= 255 - OutOfOrderWindow) {
            ++source.outOfOrder;
            return;
        }
        if (ahead != 1)
            ++source.gaps;
    }
    source.lastSequence = sequence;
}

void DmxCensus::countRate(Source &source, qint64 nowMs)
{
    const qint64 bucket = std::max(nowMs / BucketMs, source.newestBucket);
    const qint64 passed = bucket - source.newestBucket;
    if (passed >= Buckets) {
        std::fill_n(source.buckets, Buckets, 0);
    } else {
        for (qint64 k = 1; k <= passed; ++k)
            source.buckets[(source.newestBucket + k) % Buckets] = 0;
    }
    source.newestBucket = bucket;
    ++source.buckets[bucket % Buckets];
}

IntervalHistogram &DmxCensus::intervalsOf(const Source &source) const
{
    return m_intervals[&source - m_sources.get()];
}

// One interval per frame into the histogram, compared with the median worked out before; a
// frame handled after a later one adds none.
void DmxCensus::countInterval(Source &source, const DmxFrame &frame, qint64 nowMs)
{
    const qint64 arrivalUs = frame.arrivalNs >= 0 ? frame.arrivalNs / 1000 : nowMs * 1000;
    const qint64 previousUs = source.previousUs;
    if (previousUs >= 0 && arrivalUs < previousUs)
        return;
    source.previousUs = arrivalUs;
    if (previousUs < 0)
        return;
    const qint64 intervalUs = arrivalUs - previousUs;
    IntervalHistogram &intervals = intervalsOf(source);
    const qint32 medianUs = intervals.cachedMedianUs();
    source.longestGapUs = std::max(source.longestGapUs, intervalUs);
    if (medianUs > 0 && intervalUs > StutterFactor * qint64(medianUs)
        && intervalUs > StutterMinMs * 1000
        && intervalUs < lostAfterMs(source.identity.protocol, medianUs) * 1000) {
        ++source.stutters;
        source.longestStutterUs = std::max(source.longestStutterUs, intervalUs);
        source.lastStutterUs = intervalUs;
    }
    if (intervalUs >= SilenceNotedMs * 1000) {
        source.silenceEndMs = nowMs;
        source.silenceMs = intervalUs / 1000;
    }
    intervals.add(intervalUs, nowMs);
}

DmxSource DmxCensus::copyOf(const Source &source, qint64 nowMs, bool withMinute) const
{
    DmxSource copy;
    copy.protocol = source.identity.protocol;
    copy.address = source.identity.address;
    copy.physical = source.identity.physical;
    copy.cid = source.identity.cid;
    copy.priority = source.priority;
    copy.firstSeenMs = source.firstSeenMs;
    copy.lastSeenMs = source.lastSeenMs;
    copy.packets = source.packets;
    copy.lastLength = source.lastLength;
    copy.sequenceGaps = source.gaps;
    copy.sequenceOutOfOrder = source.outOfOrder;
    const qint64 liveFor = liveMs(source.identity.protocol);
    copy.live = nowMs - source.lastSeenMs < liveFor;
    // The last second: the ten whole buckets before the one filling now. The clock starts at
    // 0, so in its first second there are fewer, and none before 0.
    const qint64 now = nowMs / BucketMs;
    quint64 packets = 0;
    for (qint64 b = std::max({now - WholeBuckets, source.newestBucket - WholeBuckets, qint64(0)});
         b <= std::min(now - 1, source.newestBucket); ++b)
        packets += source.buckets[b % Buckets];
    copy.rateHz = double(packets) * 1000.0 / double(WholeBuckets * BucketMs);
    if (withMinute)
        intervalsOf(source).fill(&copy.health, nowMs);
    else
        copy.health.medianUs = intervalsOf(source).cachedMedianUs();
    copy.health.longestGapMs = source.longestGapUs / 1000;
    copy.health.stutters = source.stutters;
    copy.health.longestStutterMs = source.longestStutterUs / 1000;
    copy.lastStutterMs = source.lastStutterUs / 1000;
    copy.silenceEndMs = source.silenceEndMs;
    copy.silenceMs = source.silenceMs;
    if (source.sender >= 0) {
        const Sender &sender = m_senders[source.sender];
        copy.malformed = sender.malformed;
        copy.sendsSync = sender.syncSeen && nowMs - sender.lastSyncMs < liveFor;
    }
    return copy;
}

QList<DmxSource> DmxCensus::sources(UniverseKey key, qint64 nowMs) const
{
    QList<DmxSource> list;
    const quint16 slot = m_universeIndex[indexOf(key)];
    if (slot == 0)
        return list;
    const Universe &universe = m_universes[slot - 1];
    list.reserve(universe.count);
    for (int i = universe.first; i >= 0; i = m_sources[i].next)
        list.append(copyOf(m_sources[i], nowMs));
    return list;
}

void DmxCensus::forEachSource(qint64 nowMs,
                              const std::function<void(UniverseKey, const DmxSource &)> &visit) const
{
    for (int u = 0; u < m_universeCount; ++u) {
        const Universe &universe = m_universes[u];
        for (int i = universe.first; i >= 0; i = m_sources[i].next)
            visit(universe.key, copyOf(m_sources[i], nowMs, false));
    }
}

void DmxCensus::forEachMalformedSender(const std::function<void(quint32, quint64)> &visit) const
{
    for (int i = 0; i < SenderSlots; ++i) {
        const Sender &sender = m_senders[i];
        if (sender.used && sender.malformed > 0)
            visit(sender.address, sender.malformed);
    }
}

QList<UniverseTraffic> DmxCensus::universes(qint64 nowMs) const
{
    QList<UniverseTraffic> list;
    list.reserve(m_universeCount);
    for (int u = 0; u < m_universeCount; ++u) {
        const Universe &universe = m_universes[u];
        UniverseTraffic traffic;
        traffic.protocol = universe.key.protocol;
        traffic.portAddress = universe.key.number;
        traffic.sources = universe.count;
        traffic.moreSources = universe.more;
        traffic.lastSeenMs = universe.lastSeenMs;
        for (int i = universe.first; i >= 0; i = m_sources[i].next) {
            const DmxSource source = copyOf(m_sources[i], nowMs, false);
            traffic.sequenceErrors += source.sequenceGaps + source.sequenceOutOfOrder;
            if (!source.live)
                continue;
            ++traffic.liveSources;
            traffic.rateHz += source.rateHz;
        }
        list.append(traffic);
    }
    std::sort(list.begin(), list.end(), [](const UniverseTraffic &a, const UniverseTraffic &b) {
        return a.protocol != b.protocol ? a.protocol < b.protocol : a.portAddress < b.portAddress;
    });
    return list;
}
