#ifndef CHANNELACTIVITY_H
#define CHANNELACTIVITY_H

#include "dmxframe.h"

#include <QtGlobal>

#include <array>

// How each of the 512 channels of a universe has moved since the last reset: lowest and
// highest level, the number of level changes and when the last one came. Fed frame by frame
// (every frame that arrived, not only those on show, so a change shorter than a refresh is
// counted); tick() closes one refresh, and the recency is judged at the time of the last tick,
// so it holds while nothing is fed.
class ChannelActivity
{
public:
    static constexpr int Channels = DmxFrame::MaxChannels;
    static constexpr qint64 RecentNs = 2'000'000'000;

    enum Recency {
        NeverChanged,     // not since the reset (or no level at all)
        ChangedEarlier,   // more than RecentNs before the last tick
        ChangedRecently,  // within RecentNs of the last tick
        ChangedLastTick,  // between the last two ticks
    };

    struct Statistics
    {
        bool hasLevel = false;  // a frame carried this channel since the reset
        quint8 level = 0;       // its level in the newest such frame
        quint8 minimum = 0;
        quint8 maximum = 0;
        quint32 changes = 0;
        qint64 lastChangeNs = 0; // valid when changes > 0
    };

    ChannelActivity();

    void reset();
    // One frame of length levels (channel 1 first) that arrived at timeNs.
    void addFrame(const uchar *levels, int length, qint64 timeNs);
    // Ends a refresh at nowNs; wallClockMs is the time of day (ms since the epoch) at nowNs.
    void tick(qint64 nowNs, qint64 wallClockMs);

    Recency recency(int channel) const;
    const Statistics &statistics(int channel) const { return m_channels[size_t(channel)]; }
    qint64 nowNs() const { return m_nowNs; }
    // The time of day of an instant on the frames' clock, in ms since the epoch.
    qint64 wallClockMs(qint64 timeNs) const;

private:
    std::array<Statistics, Channels> m_channels;
    std::array<quint32, Channels> m_lastChangeTick;
    quint32 m_tick = 1;    // the refresh being fed; 0 means no change seen
    qint64 m_nowNs = 0;
    qint64 m_wallClockMs = 0;
};

#endif // CHANNELACTIVITY_H
