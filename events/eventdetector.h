#ifndef EVENTDETECTOR_H
#define EVENTDETECTOR_H

#include "dmxevent.h"
#include "dmxframe.h"
#include "nodeinfo.h"
#include "timecodesource.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>
#include <functional>

class DmxCensus;
class EventLog;
struct DmxSource;

// Finds the events of a lighting network in what the engines already track: one pass over a
// census, the node list or the time code senders, every 250 ms, compared with what the pass
// before saw. Nothing here runs per packet. A steady network logs nothing after its sources
// appeared.
//
// Its own tables are bounded: at most MaxTracked sources (live ones and recently lost ones, so
// that a source that comes back is "resumed" with its silence and not "appeared"; the oldest
// lost go first), and the census's and node table's own bounds for universes, senders and nodes.
class EventDetector
{
public:
    static constexpr int MaxTracked = 16384;     // both censuses' sources, and as many lost
    static constexpr int MaxNodes = 2048;
    static constexpr int MaxTimeCodeSenders = 256;
    static constexpr int SequenceBurstErrors = 5; // more than this in one second is a burst
    static constexpr qint64 StutterEventMs = 10000;
    static constexpr qint64 SequenceEventMs = 10000;
    static constexpr qint64 MalformedEventMs = 60000;
    static constexpr qint64 RateSettleMs = 2000;
    static constexpr qint64 RateChangeMs = 5000;
    static constexpr double RateChangeFraction = 0.2;
    // A keep-alive sender's count over one second swings by a packet or so: that is no change.
    static constexpr double RateChangeMinHz = 1.5;
    static constexpr qint64 TimeCodeStoppedMs = 1000;
    static constexpr qint64 TimeCodeJumpEventMs = 10000; // a sender that jumps all the time


    // One pass: nowMs on the clock of what is looked at, clockOffsetMs taking it to the clock
    // the events carry, wallMs the time of day.
    struct Pass
    {
        qint64 nowMs = 0;
        qint64 clockOffsetMs = 0;
        qint64 wallMs = 0;
    };
    // A source's name for the text: a node's or an sACN source's; empty when none is known.
    using NameOf = std::function<QString(UniverseKey, const SourceIdentity &)>;

    explicit EventDetector(EventLog *log);
    ~EventDetector();
    EventDetector(const EventDetector &) = delete;
    EventDetector &operator=(const EventDetector &) = delete;

    void detectSources(const DmxCensus &census, DmxProtocol protocol, const Pass &pass,
                       const NameOf &nameOf);
    void detectNodes(const QList<NodeInfo> &nodes, const Pass &pass);
    void detectTimeCode(const QList<TimeCodeSource> &senders, const Pass &pass);
    // Forgets everything seen, without events: what was received was forgotten (a capture
    // played from elsewhere, the clock moved).
    void reset();

    int trackedSources() const;

    static QString sourceText(const SourceIdentity &source, const QString &name);
    static QString timeCodeText(const std::array<quint8, 4> &framesToHours);

private:
    struct SourceKey
    {
        UniverseKey universe;
        SourceIdentity identity;
        friend bool operator==(const SourceKey &a, const SourceKey &b)
        {
            return a.universe == b.universe && a.identity == b.identity;
        }
        size_t hash(size_t seed) const;
        friend size_t qHash(const SourceKey &key, size_t seed = 0) noexcept
        {
            return key.hash(seed);
        }
    };
    struct Tracked;
    struct UniverseState;
    struct SenderState;
    struct NodeState;
    struct TimeCodeState;
    class SourcePass;
    friend class SourcePass;

    DmxEvent event(DmxEventKind kind, const Pass &pass) const;
    void append(DmxEvent event);
    Tracked *track(const SourceKey &key, const DmxSource &source, const Pass &pass);
    void noteLost(const SourceKey &key, Tracked &tracked);
    void detectMalformed(const DmxCensus &census, DmxProtocol protocol, const Pass &pass);
    void nodeEvent(DmxEventKind kind, const NodeInfo &node, const QString &text, const Pass &pass);
    static QString nodeChanges(const NodeState &before, const NodeInfo &now);

    EventLog *m_log;
    QHash<SourceKey, Tracked> m_sources;
    QList<QPair<SourceKey, quint64>> m_lostOrder; // oldest first, with the loss's serial
    quint64 m_lossSerial = 0;
    QHash<quint32, UniverseState> m_universes;    // protocol << 16 | number
    QHash<quint64, SenderState> m_senders;        // protocol << 32 | address
    QHash<quint64, NodeState> m_nodes;            // source address << 8 | BindIndex
    QHash<quint32, TimeCodeState> m_timeCode;     // sender address
    quint64 m_passSerial = 0;
    qint64 m_lastPassMs[DmxProtocolCount] = {-1, -1};
};

#endif // EVENTDETECTOR_H
