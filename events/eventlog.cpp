#include "eventlog.h"

#include <QtGlobal>

#include <algorithm>
#include <utility>

EventLog::EventLog(int capacity) : m_capacity(std::max(capacity, 1)) { }

EventLog::~EventLog() = default;

quint64 EventLog::append(DmxEvent event)
{
    const int size = int(m_events.size());
    if (size < m_capacity) {
        if (size == int(m_events.capacity()))
            m_events.reserve(size_t(std::min(m_capacity, std::max(64, size * 2))));
        m_events.push_back(std::move(event));
        m_head = (size + 1) % m_capacity;
    } else {
        ++m_dropped;
        m_events[size_t(m_head)] = std::move(event);
        m_head = (m_head + 1) % m_capacity;
    }
    return ++m_lastSerial;
}

void EventLog::clear()
{
    std::vector<DmxEvent>().swap(m_events);
    m_head = 0;
    m_dropped = 0;
}

const DmxEvent &EventLog::newest(int index) const
{
    const int size = count();
    Q_ASSERT(index >= 0 && index < size);
    return m_events[size_t((m_head + size - 1 - index) % size)];
}

const DmxEvent *EventLog::bySerial(quint64 serial) const
{
    if (serial == 0 || serial > m_lastSerial || m_lastSerial - serial >= quint64(count()))
        return nullptr;
    return &newest(int(m_lastSerial - serial));
}
