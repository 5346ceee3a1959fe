#include "eventlog.h"

#include <QtGlobal>

#include <algorithm>
#include <utility>

EventLog::EventLog(int capacity)
    : m_events(new DmxEvent[std::max(capacity, 1)]), m_capacity(std::max(capacity, 1))
{
}

EventLog::~EventLog() = default;

quint64 EventLog::append(DmxEvent event)
{
    if (m_count == m_capacity)
        ++m_dropped;
    else
        ++m_count;
    m_events[m_head] = std::move(event);
    m_head = (m_head + 1) % m_capacity;
    return ++m_lastSerial;
}

void EventLog::clear()
{
    for (int i = 0; i < m_count; ++i)
        m_events[(m_head + m_capacity - 1 - i) % m_capacity] = DmxEvent();
    m_count = 0;
    m_dropped = 0;
}

const DmxEvent &EventLog::newest(int index) const
{
    Q_ASSERT(index >= 0 && index < m_count);
    return m_events[(m_head + m_capacity - 1 - index) % m_capacity];
}

const DmxEvent *EventLog::bySerial(quint64 serial) const
{
    if (serial == 0 || serial > m_lastSerial || m_lastSerial - serial >= quint64(m_count))
        return nullptr;
    return &newest(int(m_lastSerial - serial));
}
