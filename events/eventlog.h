#ifndef EVENTLOG_H
#define EVENTLOG_H

#include "dmxevent.h"

#include <QtGlobal>

#include <vector>

// The events of this run, newest kept: at most capacity() of them, and when more come the
// oldest go and are counted. Every event gets a serial number, one above the previous, so that a
// reader (the log dock, the log file, the alarms) asks for what came after the last one it saw.
class EventLog
{
public:
    static constexpr int DefaultCapacity = 100000;

    explicit EventLog(int capacity = DefaultCapacity);
    ~EventLog();
    EventLog(const EventLog &) = delete;
    EventLog &operator=(const EventLog &) = delete;

    // Returns the event's serial number.
    quint64 append(DmxEvent event);
    void clear(); // serial numbers go on from where they were

    int capacity() const { return m_capacity; }
    int count() const { return int(m_events.size()); }
    // 0 is the newest.
    const DmxEvent &newest(int index) const;
    // The serial of the newest event; 0 while none was ever appended.
    quint64 lastSerial() const { return m_lastSerial; }
    // The event with that serial, or null once it is gone (or never was).
    const DmxEvent *bySerial(quint64 serial) const;
    // Events that went to make room, since the start or clear().
    quint64 dropped() const { return m_dropped; }

private:
    // A ring once full; it grows up to then, so that a quiet network costs no memory.
    std::vector<DmxEvent> m_events;
    int m_capacity;
    int m_head = 0; // where the next one goes
    quint64 m_lastSerial = 0;
    quint64 m_dropped = 0;
};

#endif // EVENTLOG_H
