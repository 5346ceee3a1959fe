#include "channeltrace.h"

#include <algorithm>

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
    m_intervalNs = 0;
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
    // Only changes are kept, so a pause must be marked when it ends or the last level would
    // seem to hold through it.
    if (m_size > 0) {
        const qint64 intervalNs = timeNs - m_lastFrameNs;
        if (intervalNs > std::max(GapIntervals * m_intervalNs, MinGapNs)) {
            Point pauseStart;
            pauseStart.timeNs = m_lastFrameNs;
            pauseStart.levels.fill(NoLevel);
            append(pauseStart);
        }
        followInterval(intervalNs);
    }
    m_lastFrameNs = timeNs;
    append(point);
}

// At once to a longer interval (a console that falls back to repeating once a second shows one
// gap, not one per repeat), slowly back to shorter ones, so that one fast burst does not turn
// the next repeats into gaps.
void ChannelTrace::followInterval(qint64 intervalNs)
{
    if (intervalNs > m_intervalNs)
        m_intervalNs = intervalNs;
    else
        m_intervalNs -= (m_intervalNs - intervalNs) / 8;
}

void ChannelTrace::append(const Point &point)
{
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
