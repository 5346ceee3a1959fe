#include "trafficcensus.h"
#include "artnetpackets.h"

#include <algorithm>
#include <cstring>

using namespace ArtNetPackets;

namespace {

// The rate is counted in buckets of 100 ms: the last ten whole buckets are the last second,
// the eleventh is the one filling now.
constexpr qint64 BucketMs = 100;
constexpr int WholeBuckets = 10;
constexpr int Buckets = WholeBuckets + 1;

constexpr int SenderSlots = 2 * TrafficCensus::MaxSenders; // half full at most: probes end soon
constexpr int UnstoredBits = 1 << 20;
constexpr int PortAddresses = 1 << 16;

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

struct TrafficCensus::Source
{
    quint32 address = 0;
    quint8 physical = 0;
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
};

struct TrafficCensus::Universe
{
    quint16 portAddress = 0;
    int first = -1;
    int last = -1;
    int lastHit = -1;          // most packets come from the source of the packet before
    int count = 0;
    quint32 more = 0;
    qint64 lastSeenMs = 0;
};

struct TrafficCensus::Sender
{
    quint32 address = 0;
    bool used = false;
    bool syncSeen = false;
    qint64 lastSyncMs = 0;
    quint64 malformed = 0;
};

TrafficCensus::TrafficCensus()
    : m_sources(new Source[MaxSources]),
      m_universes(new Universe[MaxUniverses]),
      m_senders(new Sender[SenderSlots]),
      m_universeIndex(new quint16[PortAddresses]()),
      m_unstoredSeen(new quint64[UnstoredBits / 64]())
{
}

TrafficCensus::~TrafficCensus() = default;

bool TrafficCensus::isMalformedArtDmx(int datagramSize, quint16 lengthField)
{
    return !ArtNetPackets::isWholeArtDmx(datagramSize, lengthField);
}

void TrafficCensus::clear()
{
    std::fill_n(m_sources.get(), MaxSources, Source());
    std::fill_n(m_universes.get(), MaxUniverses, Universe());
    std::fill_n(m_senders.get(), SenderSlots, Sender());
    std::memset(m_universeIndex.get(), 0, PortAddresses * sizeof(quint16));
    std::memset(m_unstoredSeen.get(), 0, UnstoredBits / 8);
    m_sourceCount = 0;
    m_universeCount = 0;
    m_senderCount = 0;
    m_unstoredSources = 0;
    m_malformedDmx = 0;
}

void TrafficCensus::recordDmx(const uchar *datagram, int size, quint32 sender, qint64 nowMs)
{
    const quint16 length = dmxLengthField(datagram, size);
    if (isMalformedArtDmx(size, length)) {
        ++m_malformedDmx;
        if (Sender *from = senderFor(sender))
            ++from->malformed;
        return;
    }
    const quint16 portAddress = dmxPortAddress(datagram);
    const quint8 physical = datagram[Dmx::Physical];
    Universe *universe = universeFor(portAddress, nowMs);
    if (!universe) {
        if (firstTimeUnstored(portAddress, sender, physical))
            ++m_unstoredSources;
        return;
    }
    universe->lastSeenMs = nowMs;
    Source *source = sourceFor(*universe, sender, physical, nowMs);
    if (!source) {
        if (firstTimeUnstored(portAddress, sender, physical)) {
            ++universe->more;
            ++m_unstoredSources;
        }
        return;
    }
    countSequence(*source, datagram[Dmx::Sequence], nowMs);
    countRate(*source, nowMs);
    source->lastSeenMs = nowMs;
    ++source->packets;
    source->lastLength = length;
}

void TrafficCensus::recordSync(quint32 sender, qint64 nowMs)
{
    if (Sender *from = senderFor(sender)) {
        from->syncSeen = true;
        from->lastSyncMs = nowMs;
    }
}

TrafficCensus::Universe *TrafficCensus::universeFor(quint16 portAddress, qint64 nowMs)
{
    const quint16 slot = m_universeIndex[portAddress];
    if (slot != 0)
        return &m_universes[slot - 1];
    if (m_universeCount >= MaxUniverses)
        return nullptr;
    Universe &universe = m_universes[m_universeCount++];
    universe = Universe();
    universe.portAddress = portAddress;
    universe.lastSeenMs = nowMs;
    m_universeIndex[portAddress] = quint16(m_universeCount);
    return &universe;
}

TrafficCensus::Source *TrafficCensus::sourceFor(Universe &universe, quint32 address,
                                                quint8 physical, qint64 nowMs)
{
    if (universe.lastHit >= 0) {
        Source &hit = m_sources[universe.lastHit];
        if (hit.address == address && hit.physical == physical)
            return &hit;
    }
    for (int i = universe.first; i >= 0; i = m_sources[i].next) {
        Source &source = m_sources[i];
        if (source.address == address && source.physical == physical) {
            universe.lastHit = i;
            return &source;
        }
    }
    if (universe.count >= MaxSourcesPerUniverse || m_sourceCount >= MaxSources)
        return nullptr;
    const int index = m_sourceCount++;
    Source &source = m_sources[index];
    source = Source();
    source.address = address;
    source.physical = physical;
    source.firstSeenMs = nowMs;
    source.lastSeenMs = nowMs;
    source.newestBucket = nowMs / BucketMs;
    const Sender *sender = senderFor(address);
    source.sender = sender ? int(sender - m_senders.get()) : -1;
    if (universe.last >= 0)
        m_sources[universe.last].next = index;
    else
        universe.first = index;
    universe.last = index;
    universe.lastHit = index;
    ++universe.count;
    return &source;
}

TrafficCensus::Sender *TrafficCensus::senderFor(quint32 address)
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

quint64 TrafficCensus::malformedFrom(quint32 sender) const
{
    for (quint32 probe = mix(sender) % SenderSlots;; probe = (probe + 1) % SenderSlots) {
        const Sender &slot = m_senders[probe];
        if (!slot.used)
            return 0;
        if (slot.address == sender)
            return slot.malformed;
    }
}

// A source beyond the bounds is counted once however often it sends, by a bit of its own in a
// fixed set; once very many were counted, two may share a bit, so the count is a lower bound.
bool TrafficCensus::firstTimeUnstored(quint16 portAddress, quint32 address, quint8 physical)
{
    const quint32 hash = mix(mix(address) ^ (quint32(portAddress) << 8 | physical)) % UnstoredBits;
    quint64 &word = m_unstoredSeen[hash / 64];
    const quint64 bit = quint64(1) << (hash % 64);
    if (word & bit)
        return false;
    word |= bit;
    return true;
}

// Sequence numbers run 1 to 255 and wrap to 1; 0 means the sender does not number its packets.
// A repeat of the last number, or one up to OutOfOrderWindow behind it, arrived out of order and
// leaves the expectation as it was. Any other number than the successor means packets were lost
// or the sender started afresh (a console restarted): one gap, and the count follows the new
// number, so that a restart is one error and not one for every packet until the old number
// comes round again. After a silence of a keep-alive period a sender starts afresh unnoticed.
void TrafficCensus::countSequence(Source &source, quint8 sequence, qint64 nowMs)
{
    constexpr int OutOfOrderWindow = 20;
    if (sequence == 0) {
        source.lastSequence = 0;
        return;
    }
    if (source.lastSequence != 0 && nowMs - source.lastSeenMs < LiveMs) {
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

void TrafficCensus::countRate(Source &source, qint64 nowMs)
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

DmxSource TrafficCensus::copyOf(const Source &source, qint64 nowMs) const
{
    DmxSource copy;
    copy.address = source.address;
    copy.physical = source.physical;
    copy.firstSeenMs = source.firstSeenMs;
    copy.lastSeenMs = source.lastSeenMs;
    copy.packets = source.packets;
    copy.lastLength = source.lastLength;
    copy.sequenceGaps = source.gaps;
    copy.sequenceOutOfOrder = source.outOfOrder;
    copy.live = nowMs - source.lastSeenMs < LiveMs;
    // The last second: the ten whole buckets before the one filling now. The clock starts at
    // 0, so in its first second there are fewer, and none before 0.
    const qint64 now = nowMs / BucketMs;
    quint64 packets = 0;
    for (qint64 b = std::max({now - WholeBuckets, source.newestBucket - WholeBuckets, qint64(0)});
         b <= std::min(now - 1, source.newestBucket); ++b)
        packets += source.buckets[b % Buckets];
    copy.rateHz = double(packets) * 1000.0 / double(WholeBuckets * BucketMs);
    if (source.sender >= 0) {
        const Sender &sender = m_senders[source.sender];
        copy.malformed = sender.malformed;
        copy.sendsSync = sender.syncSeen && nowMs - sender.lastSyncMs < LiveMs;
    }
    return copy;
}

QList<DmxSource> TrafficCensus::sources(quint16 portAddress, qint64 nowMs) const
{
    QList<DmxSource> list;
    const quint16 slot = m_universeIndex[portAddress];
    if (slot == 0)
        return list;
    const Universe &universe = m_universes[slot - 1];
    list.reserve(universe.count);
    for (int i = universe.first; i >= 0; i = m_sources[i].next)
        list.append(copyOf(m_sources[i], nowMs));
    return list;
}

QList<UniverseTraffic> TrafficCensus::universes(qint64 nowMs) const
{
    QList<UniverseTraffic> list;
    list.reserve(m_universeCount);
    for (int u = 0; u < m_universeCount; ++u) {
        const Universe &universe = m_universes[u];
        UniverseTraffic traffic;
        traffic.portAddress = universe.portAddress;
        traffic.sources = universe.count;
        traffic.moreSources = universe.more;
        traffic.lastSeenMs = universe.lastSeenMs;
        for (int i = universe.first; i >= 0; i = m_sources[i].next) {
            const DmxSource source = copyOf(m_sources[i], nowMs);
            traffic.sequenceErrors += source.sequenceGaps + source.sequenceOutOfOrder;
            if (!source.live)
                continue;
            ++traffic.liveSources;
            traffic.rateHz += source.rateHz;
        }
        list.append(traffic);
    }
    std::sort(list.begin(), list.end(), [](const UniverseTraffic &a, const UniverseTraffic &b) {
        return a.portAddress < b.portAddress;
    });
    return list;
}
