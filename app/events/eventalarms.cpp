#include "eventalarms.h"

#include "dmxevent.h"
#include "eventtexts.h"

#include <algorithm>

namespace {

// However long nobody looks, the status bar needs the newest and a count, not every one.
constexpr int MaxAlarmsKept = 1000;

} // namespace

EventAlarms::EventAlarms(QObject *parent) : QObject(parent) {}

void EventAlarms::setWatched(const QSet<quint16> &artNet, const QSet<quint16> &sacn)
{
    m_artNet = artNet;
    m_sacn = sacn;
}

void EventAlarms::watch(UniverseKey universe)
{
    (universe.protocol == DmxProtocol::Sacn ? m_sacn : m_artNet).insert(universe.number);
}

bool EventAlarms::watches(UniverseKey universe) const
{
    return (universe.protocol == DmxProtocol::Sacn ? m_sacn : m_artNet).contains(universe.number);
}

QList<quint16> EventAlarms::watched(DmxProtocol protocol) const
{
    const QSet<quint16> &set = protocol == DmxProtocol::Sacn ? m_sacn : m_artNet;
    QList<quint16> universes(set.cbegin(), set.cend());
    std::sort(universes.begin(), universes.end());
    return universes;
}

bool EventAlarms::watchesAnything() const
{
    return m_timeCode || !m_artNet.isEmpty() || !m_sacn.isEmpty();
}

bool EventAlarms::consider(const DmxEvent &event)
{
    const QString time = EventTexts::time(event.wallMs).left(8);
    QString text;
    if (event.kind == DmxEventKind::SourceLost && event.universeSilent && event.hasUniverse
        && watches(event.universe))
        text = tr("%1 went dark %2").arg(EventTexts::universe(event.universe), time);
    else if (event.kind == DmxEventKind::ConflictStarted && event.hasUniverse
             && watches(event.universe))
        text = tr("conflict on %1 %2").arg(EventTexts::universe(event.universe), time);
    else if (event.kind == DmxEventKind::TimeCodeStopped && m_timeCode)
        text = tr("time code stopped %1").arg(time);
    if (text.isEmpty())
        return false;
    if (m_alarms.size() >= MaxAlarmsKept)
        m_alarms.removeFirst();
    m_alarms << Alarm{event.wallMs, text};
    emit raised(m_alarms.constLast());
    emit changed();
    return true;
}

void EventAlarms::acknowledge()
{
    if (m_alarms.isEmpty())
        return;
    m_alarms.clear();
    emit changed();
}
