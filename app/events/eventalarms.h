#ifndef EVENTALARMS_H
#define EVENTALARMS_H

#include "dmxframe.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

struct DmxEvent;

// What the user must not miss on the universes they watch: one going dark (its last source lost
// with no other live), a second source starting to fight over it, and the time code stopping
// when they watch that too. An alarm stays until acknowledged.
class EventAlarms : public QObject
{
    Q_OBJECT

public:
    struct Alarm
    {
        qint64 wallMs = 0;
        QString text;
    };

    explicit EventAlarms(QObject *parent = nullptr);

    // Art-Net universes by port-address (0-based), sACN ones by number.
    void setWatched(const QSet<quint16> &artNet, const QSet<quint16> &sacn);
    void watch(UniverseKey universe);
    bool watches(UniverseKey universe) const;
    QList<quint16> watched(DmxProtocol protocol) const; // ascending
    void setTimeCodeWatched(bool watched) { m_timeCode = watched; }
    bool timeCodeWatched() const { return m_timeCode; }
    bool watchesAnything() const;

    // Raises an alarm when the event calls for one; returns whether it did.
    bool consider(const DmxEvent &event);
    const QList<Alarm> &alarms() const { return m_alarms; }
    void acknowledge();

signals:
    void raised(const EventAlarms::Alarm &alarm);
    void changed();

private:
    QSet<quint16> m_artNet;
    QSet<quint16> m_sacn;
    bool m_timeCode = false;
    QList<Alarm> m_alarms;
};

#endif // EVENTALARMS_H
