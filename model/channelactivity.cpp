#include "channelactivity.h"

#include <algorithm>

ChannelActivity::ChannelActivity()
{
    reset();
}

void ChannelActivity::reset()
{
    m_channels.fill(Statistics());
    m_lastChangeTick.fill(0);
}

void ChannelActivity::addFrame(const uchar *levels, int length, qint64 timeNs)
{
    const int carried = std::clamp(length, 0, Channels);
    for (int channel = 0; channel < carried; ++channel) {
        Statistics &statistics = m_channels[size_t(channel)];
        const quint8 level = levels[channel];
        if (!statistics.hasLevel) {
            // The first level after a reset is where counting starts, not a change.
            statistics.hasLevel = true;
            statistics.level = statistics.minimum = statistics.maximum = level;
            continue;
        }
        if (level == statistics.level)
            continue;
        statistics.level = level;
        statistics.minimum = std::min(statistics.minimum, level);
        statistics.maximum = std::max(statistics.maximum, level);
        ++statistics.changes;
        statistics.lastChangeNs = timeNs;
        m_lastChangeTick[size_t(channel)] = m_tick;
    }
}

void ChannelActivity::tick(qint64 nowNs, qint64 wallClockMs)
{
    m_nowNs = nowNs;
    m_wallClockMs = wallClockMs;
    ++m_tick;
}

ChannelActivity::Recency ChannelActivity::recency(int channel) const
{
    if (channel < 0 || channel >= Channels)
        return NeverChanged;
    const Statistics &statistics = m_channels[size_t(channel)];
    if (statistics.changes == 0)
        return NeverChanged;
    if (m_lastChangeTick[size_t(channel)] + 1 == m_tick)
        return ChangedLastTick;
    if (m_nowNs - statistics.lastChangeNs <= RecentNs)
        return ChangedRecently;
    return ChangedEarlier;
}

qint64 ChannelActivity::wallClockMs(qint64 timeNs) const
{
    return m_wallClockMs - (m_nowNs - timeNs) / 1'000'000;
}
