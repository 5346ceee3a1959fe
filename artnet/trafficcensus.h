#ifndef TRAFFICCENSUS_H
#define TRAFFICCENSUS_H

#include "dmxsource.h"
#include "universetraffic.h"

#include <QList>
#include <QtGlobal>

#include <memory>

// Who sends which universe: every ArtDmx the engine receives is counted against its source
// (sender IPv4 address + Physical byte) and its port-address. Knows no socket: it is fed the
// datagram's bytes, the sender and the time, so it can be tested and fuzzed on its own.
//
// Whatever a hostile network sends, the tables stay as they were made: at most
// MaxSourcesPerUniverse sources per universe, MaxSources in all, MaxUniverses universes and
// MaxSenders sender addresses. Sources beyond the bounds are counted, not stored. Nothing is
// allocated after construction.
class TrafficCensus
{
public:
    static constexpr int MaxSourcesPerUniverse = 64;
    static constexpr int MaxSources = 4096;
    static constexpr int MaxUniverses = 4096;
    static constexpr int MaxSenders = 4096;
    static constexpr qint64 LiveMs = 4000; // Art-Net's keep-alive limit

    TrafficCensus();
    ~TrafficCensus();
    TrafficCensus(const TrafficCensus &) = delete;
    TrafficCensus &operator=(const TrafficCensus &) = delete;

    // An ArtDmx cut inside its header, or whose Length claims more data than the datagram
    // carries: the receiver passes it over.
    static bool isMalformedArtDmx(int datagramSize, quint16 lengthField);

    // One ArtDmx datagram (identifier and opcode already checked) from an IPv4 sender.
    void recordDmx(const uchar *datagram, int size, quint32 sender, qint64 nowMs);
    // An ArtSync from an IPv4 sender.
    void recordSync(quint32 sender, qint64 nowMs);
    void clear();

    // Copies for a reader, as of nowMs.
    QList<UniverseTraffic> universes(qint64 nowMs) const;      // sorted by port-address
    QList<DmxSource> sources(quint16 portAddress, qint64 nowMs) const; // in order of first arrival
    quint64 unstoredSources() const { return m_unstoredSources; } // distinct, counted once each
    quint64 malformedDmx() const { return m_malformedDmx; }
    quint64 malformedFrom(quint32 sender) const;

private:
    struct Source;
    struct Universe;
    struct Sender;

    Universe *universeFor(quint16 portAddress, qint64 nowMs);
    Source *sourceFor(Universe &universe, quint32 address, quint8 physical, qint64 nowMs);
    Sender *senderFor(quint32 address);
    bool firstTimeUnstored(quint16 portAddress, quint32 address, quint8 physical);
    static void countSequence(Source &source, quint8 sequence, qint64 nowMs);
    static void countRate(Source &source, qint64 nowMs);
    DmxSource copyOf(const Source &source, qint64 nowMs) const;

    std::unique_ptr<Source[]> m_sources;
    std::unique_ptr<Universe[]> m_universes;
    std::unique_ptr<Sender[]> m_senders;        // open addressing on the IPv4 address
    std::unique_ptr<quint16[]> m_universeIndex; // port-address -> universe slot + 1, 0 = none
    std::unique_ptr<quint64[]> m_unstoredSeen;  // bit set of unstored sources already counted
    int m_sourceCount = 0;
    int m_universeCount = 0;
    int m_senderCount = 0;
    quint64 m_unstoredSources = 0;
    quint64 m_malformedDmx = 0;
};

#endif // TRAFFICCENSUS_H
