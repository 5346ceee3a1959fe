#ifndef FRAMEHISTORY_H
#define FRAMEHISTORY_H

#include "dmxframe.h"

#include <QElapsedTimer>
#include <QtGlobal>

#include <memory>

// Every DMX frame of one universe with its arrival time, for the last Span, in a ring of
// Capacity frames allocated once: whichever bound is reached first drops the oldest frames.
// Frames are numbered by a serial that only grows, across clear() too, so that a reader keeps
// the serial after the last frame it read and asks only for what came after it.
class FrameHistory
{
public:
    static constexpr int Capacity = 8192;  // 60 s at up to 136 frames/s
    static constexpr qint64 SpanNs = 60'000'000'000;
    static constexpr int FrameSize = DmxFrame::MaxChannels;

    FrameHistory();

    // Keeps a frame arriving now, on this history's own clock.
    void record(const uchar *levels, quint16 length) { append(levels, length, clockNs()); }
    // Keeps a frame that arrived at timeNs; times must not go backwards.
    void append(const uchar *levels, quint16 length, qint64 timeNs);
    // Forgets every frame: what follows is a new history (of another universe, or a new
    // recording).
    void clear();

    qint64 clockNs() const { return m_clock.nsecsElapsed(); }
    // Counts clear(): a reader that sees it change starts over.
    quint64 historyId() const { return m_historyId; }
    // The serial the next frame will get.
    quint64 endSerial() const { return m_endSerial; }
    // The oldest frame still kept at nowNs: neither overwritten nor older than SpanNs.
    quint64 firstSerial(qint64 nowNs) const;

    // A kept frame, by serial (firstSerial() <= serial < endSerial()).
    qint64 timeAt(quint64 serial) const { return m_times[slot(serial)]; }
    quint16 lengthAt(quint64 serial) const { return m_lengths[slot(serial)]; }
    const uchar *levelsAt(quint64 serial) const { return m_levels.get() + slot(serial) * FrameSize; }

private:
    static size_t slot(quint64 serial) { return size_t(serial % Capacity); }

    std::unique_ptr<uchar[]> m_levels;
    std::unique_ptr<qint64[]> m_times;
    std::unique_ptr<quint16[]> m_lengths;
    quint64 m_beginSerial = 0; // first frame of this history
    quint64 m_endSerial = 0;
    quint64 m_historyId = 0;
    QElapsedTimer m_clock;
};

#endif // FRAMEHISTORY_H
