#ifndef DMXCENSUS_H
#define DMXCENSUS_H

#include "dmxframe.h"
#include "dmxsource.h"
#include "intervalhistogram.h"
#include "universetraffic.h"

#include <QList>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

// Who sends which universe: every decoded DMX frame is counted against its source (Art-Net:
// sender IPv4 address + Physical byte; sACN: CID) and its universe, keyed by protocol and
// number. Knows no socket and no packet layout: it is fed decoded frames and the time, so it can
// be tested and fuzzed on its own.
//
// Whatever a hostile network sends, the tables stay as they were made: at most
// MaxSourcesPerUniverse sources per universe, MaxSources in all, MaxUniverses universes and
// MaxSenders sender addresses. Sources and universes beyond the bounds are counted, not stored.
// Nothing is allocated after construction, not even to forget what fell silent.
class DmxCensus
{
public:
    static constexpr int MaxSourcesPerUniverse = 64;
    static constexpr int MaxSources = 4096;
    static constexpr int MaxUniverses = 4096;
    static constexpr int MaxSenders = 4096;
    // A source is live until this long after its last frame: Art-Net's keep-alive limit, and
    // the time after which E1.31 calls an sACN source lost.
    static constexpr qint64 ArtNetLiveMs = 4000;
    static constexpr qint64 SacnLiveMs = 2500;
    static constexpr qint64 liveMs(DmxProtocol protocol)
    {
        return protocol == DmxProtocol::Sacn ? SacnLiveMs : ArtNetLiveMs;
    }

    // A source sends steadily while its median interval is at most this; such a source is lost
    // after SteadyLostMs of silence already: a console sending 44 times a second that says
    // nothing for two seconds has stopped, it is not pausing between keep-alive packets.
    static constexpr qint32 SteadyMedianUs = 100000;
    static constexpr qint64 SteadyLostMs = 2000;
    static constexpr qint64 lostAfterMs(DmxProtocol protocol, qint32 medianUs)
    {
        return medianUs > 0 && medianUs <= SteadyMedianUs && SteadyLostMs < liveMs(protocol)
                ? SteadyLostMs
                : liveMs(protocol);
    }
    // A stutter: one interval above StutterFactor times the source's median and above
    // StutterMinMs, yet shorter than the silence that counts it lost.
    static constexpr int StutterFactor = 3;
    static constexpr qint64 StutterMinMs = 100;
    static constexpr qint64 SilenceNotedMs = 1000;

    DmxCensus();
    ~DmxCensus();
    DmxCensus(const DmxCensus &) = delete;
    DmxCensus &operator=(const DmxCensus &) = delete;

    // A malformed frame counts against its sender's address only, whether or not it named a
    // universe.
    void recordFrame(const DmxFrame &frame, qint64 nowMs);
    // A synchronisation packet (ArtSync) from an IPv4 sender.
    void recordSync(quint32 sender, qint64 nowMs);
    void clear();
    // When the universe last carried a frame; none while it is not listed.
    std::optional<qint64> lastSeenMs(UniverseKey key) const;
    // Forgets the sources that are no longer live and the universes left without one, so that
    // a flood gone by leaves room and no rows; what was counted beyond the bounds starts afresh.
    // Senders' malformed and sync counts stay.
    void forgetSilent(qint64 nowMs);

    // Copies for a reader, as of nowMs.
    QList<UniverseTraffic> universes(qint64 nowMs) const; // by protocol, then number
    QList<DmxSource> sources(UniverseKey key, qint64 nowMs) const; // in order of first arrival
    // Every stored source with its universe, as of nowMs, for a pass over all of them: the
    // health's minute figures are left out (medianUs is the one the stutter test uses).
    void forEachSource(qint64 nowMs,
                       const std::function<void(UniverseKey, const DmxSource &)> &visit) const;
    // Every sender address that sent malformed frames, with their count.
    void forEachMalformedSender(const std::function<void(quint32, quint64)> &visit) const;
    quint64 unstoredSources() const { return m_unstoredSources; } // distinct, counted once each
    // Universes that carried frames while MaxUniverses were stored, each counted once.
    quint64 unlistedUniverses() const { return m_unlistedUniverses; }
    quint64 malformedDmx() const { return m_malformedDmx; }
    quint64 malformedFrom(quint32 sender) const;
    // Malformed frames from sender addresses of which no source is stored: the Sources table
    // cannot show them.
    quint64 malformedWithoutSource() const;

private:
    struct Source;
    struct Universe;
    struct Sender;

    void recordMalformed(quint32 sender);
    Universe *universeFor(UniverseKey key, qint64 nowMs);
    Source *sourceFor(Universe &universe, const DmxFrame &frame, qint64 nowMs);
    Sender *senderFor(quint32 address);
    const Sender *findSender(quint32 address) const;
    bool firstTimeUnstored(UniverseKey key, const SourceIdentity &source);
    bool firstTimeUnlisted(UniverseKey key);
    void dropSilentSources(qint64 nowMs);
    void relinkKeptSources(Universe &universe);
    void dropUniversesWithoutSource(qint64 nowMs);
    void forgetUnstored();
    static void countSequence(Source &source, quint8 sequence, qint64 nowMs);
    static void countRate(Source &source, qint64 nowMs);
    void countInterval(Source &source, const DmxFrame &frame, qint64 nowMs);
    IntervalHistogram &intervalsOf(const Source &source) const;
    DmxSource copyOf(const Source &source, qint64 nowMs, bool withMinute = true) const;
    static int indexOf(UniverseKey key)
    {
        return int(key.protocol) * NumbersPerProtocol + key.number;
    }

    static constexpr int NumbersPerProtocol = 1 << 16;

    struct FreeDeleter
    {
        void operator()(void *memory) const;
    };

    std::unique_ptr<Source[]> m_sources;
    // Each source slot's intervals, beside it: made zeroed (the empty histogram) by the system,
    // so that only the slots in use take memory.
    std::unique_ptr<IntervalHistogram[], FreeDeleter> m_intervals;
    std::unique_ptr<Universe[]> m_universes;
    std::unique_ptr<Sender[]> m_senders;        // open addressing on the IPv4 address
    std::unique_ptr<quint16[]> m_universeIndex; // protocol and number -> universe slot + 1, 0 = none
    std::unique_ptr<quint64[]> m_unstoredSeen;  // bit set of unstored sources already counted
    std::unique_ptr<quint64[]> m_unlistedSeen;  // bit set of unlisted universes already counted
    std::unique_ptr<int[]> m_keptSlot;          // while forgetting: a source's new slot, or -1
    int m_sourceCount = 0;
    int m_universeCount = 0;
    int m_senderCount = 0;
    quint64 m_unstoredSources = 0;
    quint64 m_unlistedUniverses = 0;
    quint64 m_malformedDmx = 0;
};

#endif // DMXCENSUS_H
