#ifndef CHANNELTRACE_H
#define CHANNELTRACE_H

#include <QList>
#include <QtGlobal>

#include <array>
#include <vector>

// The levels of up to MaxChannels chosen channels over time, at frame resolution: one point
// for each frame in which one of them changed (and for the first), so that a steady channel
// costs nothing and a one-frame glitch is a point of its own. Capacity points in a ring made
// once; the oldest go first. Where no frame arrived for longer than GapIntervals times the
// stream's interval (and at least MinGapNs), a point without levels at the last frame before
// the pause ends the line, so that a drop-out shows as a gap instead of a level held through it.
class ChannelTrace
{
public:
    static constexpr int MaxChannels = 8;
    static constexpr int Capacity = 8192;
    static constexpr qint16 NoLevel = -1; // the frame was shorter than the channel, or none came
    static constexpr int GapIntervals = 3;
    static constexpr qint64 MinGapNs = 100'000'000;

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
    void append(const Point &point);
    void followInterval(qint64 intervalNs);

    QList<int> m_channels;
    std::vector<Point> m_points;
    int m_first = 0;
    int m_size = 0;
    qint64 m_lastFrameNs = 0;
    qint64 m_intervalNs = 0; // the stream's interval between frames, smoothed; 0 before two
};

#endif // CHANNELTRACE_H
