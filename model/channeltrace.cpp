#include "channeltrace.h"

ChannelTrace::ChannelTrace() : m_points(Capacity) { }

void ChannelTrace::setChannels(const QList<int> &channels)
{
    m_channels = channels.mid(0, MaxChannels);
    clear();
}

void ChannelTrace::clear()
{
    m_first = 0;
    m_size = 0;
    m_lastFrameNs = 0;
}

void ChannelTrace::addFrame(const uchar *levels, int length, qint64 timeNs)
{
    Point point;
    point.timeNs = timeNs;
    point.levels.fill(NoLevel);
    for (int i = 0; i < m_channels.size(); ++i) {
        const int channel = m_channels.at(i);
        if (channel >= 0 && channel < length)
            point.levels[size_t(i)] = levels[channel];
    }
    m_lastFrameNs = timeNs;
    if (m_size > 0 && at(m_size - 1).levels == point.levels)
        return;
    if (m_size == Capacity) {
        m_first = (m_first + 1) % Capacity;
        --m_size;
    }
    m_points[size_t((m_first + m_size) % Capacity)] = point;
    ++m_size;
}

const ChannelTrace::Point &ChannelTrace::at(int index) const
{
    return m_points[size_t((m_first + index) % Capacity)];
}
