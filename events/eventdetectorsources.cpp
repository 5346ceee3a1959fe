// EventDetector: the pass over a census's sources, universe by universe.
#include "eventdetector.h"

#include "dmxcensus.h"
#include "dmxsource.h"
#include "eventdetectorstate.h"
#include "eventlog.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int ErrorSamples = EventDetectorState::ErrorSamples;

QString tr(const char *text, int n = -1)
{
    return QCoreApplication::translate("EventDetector", text, nullptr, n);
}

quint32 universeKey(UniverseKey key)
{
    return quint32(key.protocol) << 16 | key.number;
}

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1);
}

} // namespace

// The census lists a universe's sources one after another, so a universe's live sources and
// conflict are settled when the next universe begins; a loss waits for that too, to say whether
// the universe went dark with it.
class EventDetector::SourcePass
{
public:
    SourcePass(EventDetector &detector, DmxProtocol protocol, const Pass &pass,
               const NameOf &nameOf)
        : m_detector(detector), m_protocol(protocol), m_pass(pass), m_nameOf(nameOf),
          m_serial(++detector.m_passSerial)
    {
    }

    void visit(UniverseKey universe, const DmxSource &source);
    void finish();

private:
    static constexpr int Named = 8;

    void endUniverse();
    void lost(const SourceKey &key, Tracked &tracked, bool universeSilent);
    void resumed(const SourceKey &key, Tracked &tracked, const DmxSource &source);
    void checkStutter(const SourceKey &key, Tracked &tracked, const DmxSource &source);
    void checkRate(const SourceKey &key, Tracked &tracked, const DmxSource &source);
    void checkSequence(const SourceKey &key, Tracked &tracked, const DmxSource &source);
    DmxEvent sourceEvent(DmxEventKind kind, const SourceKey &key) const;
    QString conflictNames(quint8 priority, int *count) const;

    EventDetector &m_detector;
    DmxProtocol m_protocol;
    const Pass &m_pass;
    const NameOf &m_nameOf;
    quint64 m_serial;
    bool m_inUniverse = false;
    UniverseKey m_universe;
    int m_live = 0;
    int m_named = 0;
    std::array<SourceIdentity, Named> m_liveSources;
    std::array<quint8, Named> m_livePriorities = {};
    quint8 m_topPriority = 0;
    int m_atTop = 0;
    QList<SourceKey> m_lostHere; // this universe's losses, told at its end
};

DmxEvent EventDetector::SourcePass::sourceEvent(DmxEventKind kind, const SourceKey &key) const
{
    DmxEvent event = m_detector.event(kind, m_pass);
    event.hasUniverse = true;
    event.universe = key.universe;
    event.hasSource = true;
    event.source = key.identity;
    event.sourceName = m_nameOf ? m_nameOf(key.universe, key.identity) : QString();
    return event;
}

void EventDetector::SourcePass::visit(UniverseKey universe, const DmxSource &source)
{
    if (universe.protocol != m_protocol)
        return;
    if (!m_inUniverse || universe != m_universe) {
        endUniverse();
        m_inUniverse = true;
        m_universe = universe;
    }
    SourceIdentity identity;
    identity.protocol = source.protocol;
    identity.address = source.address;
    identity.physical = source.physical;
    identity.cid = source.cid;
    const SourceKey key{universe, identity};
    Tracked *tracked = m_detector.m_sources.contains(key) ? &m_detector.m_sources[key] : nullptr;
    if (!tracked) {
        tracked = m_detector.track(key, source, m_pass);
        if (!tracked)
            return;
        DmxEvent event = sourceEvent(DmxEventKind::SourceAppeared, key);
        event.text = tr("%1 appeared").arg(sourceText(identity, event.sourceName));
        m_detector.append(std::move(event));
    } else if (tracked->lost && source.lastSeenMs > tracked->lastSeenMs) {
        resumed(key, *tracked, source);
    }
    tracked->lastSeenMs = std::max(tracked->lastSeenMs, source.lastSeenMs);
    tracked->pass = m_serial;
    if (tracked->lost)
        return;
    if (m_pass.nowMs - source.lastSeenMs
        >= DmxCensus::lostAfterMs(m_protocol, source.health.medianUs)) {
        m_detector.noteLost(key, *tracked);
        m_lostHere.append(key);
        return;
    }
    if (m_named < Named) {
        m_liveSources[size_t(m_named)] = identity;
        m_livePriorities[size_t(m_named++)] = source.priority;
    }
    ++m_live;
    if (m_live == 1 || source.priority > m_topPriority) {
        m_topPriority = source.priority;
        m_atTop = 1;
    } else if (source.priority == m_topPriority) {
        ++m_atTop;
    }
    checkStutter(key, *tracked, source);
    checkRate(key, *tracked, source);
    checkSequence(key, *tracked, source);
}

void EventDetector::SourcePass::resumed(const SourceKey &key, Tracked &tracked,
                                        const DmxSource &source)
{
    // The first packet after the silence: the census noted it, or, when it had forgotten the
    // source meanwhile, the source is new to it since then.
    qint64 backMs = source.lastSeenMs;
    if (source.silenceEndMs > tracked.lastSeenMs)
        backMs = source.silenceEndMs;
    else if (source.firstSeenMs > tracked.lastSeenMs)
        backMs = source.firstSeenMs;
    const qint64 gapMs = backMs - tracked.lastSeenMs;
    tracked.lost = false;
    tracked.settleFromMs = backMs;
    tracked.settledHz = -1;
    tracked.deviatingSinceMs = -1;
    tracked.stuttersReported = source.health.stutters;
    DmxEvent event = sourceEvent(DmxEventKind::SourceResumed, key);
    event.gapMs = gapMs;
    event.text = tr("%1 back after %2 s").arg(sourceText(key.identity, event.sourceName),
                                               seconds(gapMs));
    m_detector.append(std::move(event));
}

void EventDetector::SourcePass::lost(const SourceKey &key, Tracked &tracked, bool universeSilent)
{
    DmxEvent event = sourceEvent(DmxEventKind::SourceLost, key);
    event.gapMs = m_pass.nowMs - tracked.lastSeenMs;
    event.universeSilent = universeSilent;
    event.text = tr("%1 silent for %2 s").arg(sourceText(key.identity, event.sourceName),
                                              seconds(event.gapMs));
    m_detector.append(std::move(event));
}

void EventDetector::SourcePass::checkStutter(const SourceKey &key, Tracked &tracked,
                                             const DmxSource &source)
{
    if (source.health.stutters <= tracked.stuttersReported)
        return;
    tracked.stutterPeakMs = std::max(tracked.stutterPeakMs, source.lastStutterMs);
    if (m_pass.nowMs - tracked.stutterEventMs < StutterEventMs)
        return;
    DmxEvent event = sourceEvent(DmxEventKind::Stutter, key);
    event.count = source.health.stutters - tracked.stuttersReported;
    event.gapMs = tracked.stutterPeakMs;
    event.text = tr("%1: %n stutter(s), longest gap %2 ms", int(event.count))
                         .arg(sourceText(key.identity, event.sourceName))
                         .arg(event.gapMs);
    m_detector.append(std::move(event));
    tracked.stuttersReported = source.health.stutters;
    tracked.stutterPeakMs = 0;
    tracked.stutterEventMs = m_pass.nowMs;
}

// Against the rate it settled at two seconds after it appeared (or came back): a change is one
// that holds for RateChangeMs; the new rate is then the settled one.
void EventDetector::SourcePass::checkRate(const SourceKey &key, Tracked &tracked,
                                          const DmxSource &source)
{
    if (m_pass.nowMs - tracked.settleFromMs < RateSettleMs)
        return;
    if (tracked.settledHz < 0) {
        tracked.settledHz = source.rateHz;
        return;
    }
    const double change = std::abs(source.rateHz - tracked.settledHz);
    if (change <= RateChangeFraction * tracked.settledHz || change <= RateChangeMinHz) {
        tracked.deviatingSinceMs = -1;
        return;
    }
    if (tracked.deviatingSinceMs < 0) {
        tracked.deviatingSinceMs = m_pass.nowMs;
        return;
    }
    if (m_pass.nowMs - tracked.deviatingSinceMs <= RateChangeMs)
        return;
    DmxEvent event = sourceEvent(DmxEventKind::RateChanged, key);
    event.text = tr("%1: %2 Hz to %3 Hz")
                         .arg(sourceText(key.identity, event.sourceName),
                              QString::number(tracked.settledHz, 'f', 1),
                              QString::number(source.rateHz, 'f', 1));
    m_detector.append(std::move(event));
    tracked.settledHz = source.rateHz;
    tracked.deviatingSinceMs = -1;
}

void EventDetector::SourcePass::checkSequence(const SourceKey &key, Tracked &tracked,
                                              const DmxSource &source)
{
    const quint32 errors = source.sequenceGaps + source.sequenceOutOfOrder;
    // The errors of the last second: against the newest sample a second old or older.
    quint32 before = errors;
    for (int i = 1; i <= tracked.errorCount; ++i) {
        const size_t at = size_t((tracked.errorNext - i + ErrorSamples) % ErrorSamples);
        before = tracked.errors[at];
        if (m_pass.nowMs - tracked.errorMs[at] >= 1000)
            break;
    }
    tracked.errors[size_t(tracked.errorNext)] = errors;
    tracked.errorMs[size_t(tracked.errorNext)] = m_pass.nowMs;
    tracked.errorNext = (tracked.errorNext + 1) % ErrorSamples;
    tracked.errorCount = std::min(tracked.errorCount + 1, ErrorSamples);
    const quint32 inSecond = errors - before;
    if (inSecond <= quint32(SequenceBurstErrors)
        || m_pass.nowMs - tracked.sequenceEventMs < SequenceEventMs)
        return;
    DmxEvent event = sourceEvent(DmxEventKind::SequenceErrors, key);
    event.count = inSecond;
    event.text = tr("%1: %2 sequence errors in 1 s")
                         .arg(sourceText(key.identity, event.sourceName))
                         .arg(inSecond);
    m_detector.append(std::move(event));
    tracked.sequenceEventMs = m_pass.nowMs;
}

// sACN: two live sources at the universe's highest priority (a higher one simply wins);
// Art-Net: any two live sources, whose levels the nodes take in turn.
void EventDetector::SourcePass::endUniverse()
{
    if (!m_inUniverse)
        return;
    for (const SourceKey &key : std::as_const(m_lostHere))
        lost(key, m_detector.m_sources[key], m_live == 0);
    m_lostHere.clear();
    const int fighting = m_protocol == DmxProtocol::Sacn ? m_atTop : m_live;
    UniverseState &state = m_detector.m_universes[universeKey(m_universe)];
    const bool conflict = fighting >= 2;
    if (conflict != state.conflict) {
        DmxEvent event = m_detector.event(conflict ? DmxEventKind::ConflictStarted
                                                   : DmxEventKind::ConflictEnded,
                                          m_pass);
        event.hasUniverse = true;
        event.universe = m_universe;
        event.count = quint32(fighting);
        int named = 0;
        const QString names = conflictNames(m_topPriority, &named);
        event.text = conflict ? tr("%1 sources: %2").arg(fighting).arg(names)
                              : tr("%n live source(s) left", m_live);
        if (!conflict && m_live > 0)
            event.text += QStringLiteral(": ") + names;
        m_detector.append(std::move(event));
    }
    state.conflict = conflict;
    state.live = m_live;
    state.pass = m_serial;
    m_live = m_named = m_atTop = 0;
    m_topPriority = 0;
}

QString EventDetector::SourcePass::conflictNames(quint8 priority, int *count) const
{
    QStringList names;
    for (int i = 0; i < m_named; ++i) {
        if (m_protocol == DmxProtocol::Sacn && m_livePriorities[size_t(i)] != priority)
            continue;
        const SourceIdentity &who = m_liveSources[size_t(i)];
        names << sourceText(who, m_nameOf ? m_nameOf(m_universe, who) : QString());
    }
    *count = int(names.size());
    return names.join(QStringLiteral(", "));
}

// What the census no longer holds fell silent long enough to be forgotten: lost, unless it
// was already.
void EventDetector::SourcePass::finish()
{
    endUniverse();
    for (auto it = m_detector.m_sources.begin(); it != m_detector.m_sources.end(); ++it) {
        if (it.key().universe.protocol != m_protocol || it->pass == m_serial || it->lost)
            continue;
        m_detector.noteLost(it.key(), *it);
        const auto universe = m_detector.m_universes.constFind(universeKey(it.key().universe));
        const bool stillLive = universe != m_detector.m_universes.cend()
                               && universe->pass == m_serial && universe->live > 0;
        lost(it.key(), *it, !stillLive);
    }
    m_detector.m_universes.removeIf([this](const QHash<quint32, UniverseState>::iterator &it) {
        if ((it.key() >> 16) != quint32(m_protocol) || it->pass == m_serial)
            return false;
        if (it->conflict) {
            DmxEvent event = m_detector.event(DmxEventKind::ConflictEnded, m_pass);
            event.hasUniverse = true;
            event.universe = UniverseKey{m_protocol, quint16(it.key() & 0xFFFF)};
            event.text = tr("no live source left");
            m_detector.append(std::move(event));
        }
        return true;
    });
}

EventDetector::Tracked *EventDetector::track(const SourceKey &key, const DmxSource &source,
                                             const Pass &pass)
{
    // Room is made by forgetting the source lost longest ago.
    while (m_sources.size() >= MaxTracked && !m_lostOrder.isEmpty()) {
        const QPair<SourceKey, quint64> oldest = m_lostOrder.takeFirst();
        const auto found = m_sources.constFind(oldest.first);
        if (found != m_sources.cend() && found->lost && found->lossSerial == oldest.second)
            m_sources.erase(found);
    }
    if (m_sources.size() >= MaxTracked)
        return nullptr;
    Tracked &tracked = m_sources[key];
    tracked.lastSeenMs = source.lastSeenMs;
    tracked.settleFromMs = std::max(source.firstSeenMs, pass.nowMs - RateSettleMs);
    tracked.stuttersReported = source.health.stutters;
    return &tracked;
}

void EventDetector::noteLost(const SourceKey &key, Tracked &tracked)
{
    tracked.lost = true;
    tracked.lossSerial = ++m_lossSerial;
    m_lostOrder.append({key, tracked.lossSerial});
    if (m_lostOrder.size() <= 2 * MaxTracked)
        return;
    // Losses of sources that came back or were forgotten since leave the order.
    m_lostOrder.removeIf([this](const QPair<SourceKey, quint64> &entry) {
        const auto found = m_sources.constFind(entry.first);
        return found == m_sources.cend() || !found->lost || found->lossSerial != entry.second;
    });
}

void EventDetector::detectSources(const DmxCensus &census, DmxProtocol protocol,
                                  const Pass &pass, const NameOf &nameOf)
{
    // A clock that ran back (another capture played, a seek) makes every comparison wrong.
    qint64 &lastPassMs = m_lastPassMs[int(protocol)];
    if (pass.nowMs < lastPassMs)
        reset();
    lastPassMs = pass.nowMs;
    SourcePass sources(*this, protocol, pass, nameOf);
    census.forEachSource(pass.nowMs, [&sources](UniverseKey universe, const DmxSource &source) {
        sources.visit(universe, source);
    });
    sources.finish();
    detectMalformed(census, protocol, pass);
}

// The first malformed packet of a sender at once, then at most once a minute with the count
// since the event before.
void EventDetector::detectMalformed(const DmxCensus &census, DmxProtocol protocol,
                                    const Pass &pass)
{
    census.forEachMalformedSender([&](quint32 address, quint64 malformed) {
        const quint64 key = quint64(protocol) << 32 | address;
        if (!m_senders.contains(key) && m_senders.size() >= 2 * DmxCensus::MaxSenders)
            return;
        SenderState &sender = m_senders[key];
        if (malformed <= sender.reported || pass.nowMs - sender.eventMs < MalformedEventMs)
            return;
        DmxEvent event = this->event(DmxEventKind::Malformed, pass);
        event.universe.protocol = protocol;
        event.hasSource = true;
        event.source.protocol = protocol;
        event.source.address = address;
        event.count = quint32(std::min<quint64>(malformed - sender.reported, 0xFFFFFFFFu));
        event.text = tr("%1: %n malformed packet(s)", int(event.count))
                             .arg(QHostAddress(address).toString());
        append(std::move(event));
        sender.reported = malformed;
        sender.eventMs = pass.nowMs;
    });
}
