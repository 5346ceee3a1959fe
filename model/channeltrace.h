#ifndef CHANNELTRACE_H
#define CHANNELTRACE_H

#include <QList>
#include <QtGlobal>

#include <array>
#include <vector>

// The levels of up to MaxChannels chosen channels over time, at frame resolution: one point
// for each frame in which one of them changed (and for the first), so that a steady channel
// costs nothing and a one-frame glitch is a point of its own. Capacity points in a ring made
// once; the oldest go first.
class ChannelTrace
{
public:
    static constexpr int MaxChannels = 8;
    static constexpr int Capacity = 8192;
    static constexpr qint16 NoLevel = -1; // the frame was shorter than the channel

    struct Point
    {
        qint64 timeNs = 0;
        std::array<qint16, MaxChannels> levels{};
    };

    ChannelTrace();

    // Channel indexes (0-based), at most MaxChannels are kept; starts an empty trace.
    void setChannels(const QList<int> &channels);
    const QList<int> &channels() const { return m_channels; }
    void clear();

    void addFrame(const uchar *levels, int length, qint64 timeNs);

    int size() const { return m_size; }
    // Oldest first: 0 <= index < size().
    const Point &at(int index) const;
    // Arrival of the newest frame fed, whether or not it changed a level; 0 when none was.
    qint64 lastFrameNs() const { return m_lastFrameNs; }

private:
    QList<int> m_channels;
    std::vector<Point> m_points;
    int m_first = 0;
    int m_size = 0;
    qint64 m_lastFrameNs = 0;
};

#endif // CHANNELTRACE_H
