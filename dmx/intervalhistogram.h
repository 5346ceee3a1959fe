#ifndef INTERVALHISTOGRAM_H
#define INTERVALHISTOGRAM_H

#include "intervalstats.h"

#include <QtGlobal>

// The intervals between one source's packets over the last minute, for its health figures:
// two halves of 30 s, each a histogram on a logarithmic scale (16 bins to an octave, about 4 %
// apart, from 64 us to 16.8 s) with the exact shortest and longest interval beside it. Adding
// an interval is a few operations and allocates nothing, however fast the source sends; the
// median that the stutter test compares with is worked out when a half turns and at most once
// a second, never per packet.
class IntervalHistogram
{
public:
    static constexpr qint64 HalfMs = 30000;
    static constexpr int BinsPerOctave = 16;
    static constexpr int LowestOctave = 6;   // 64 us: shorter intervals share the first bin
    static constexpr int Octaves = 18;       // up to 2^24 us; longer ones share the last bin
    static constexpr int Bins = 1 + Octaves * BinsPerOctave;
    static constexpr qint64 MedianRefreshMs = 1000;

    void add(qint64 intervalUs, qint64 nowMs);
    void clear() { *this = IntervalHistogram(); }
    // The median of the last minute as last worked out; -1 while there was none.
    qint32 cachedMedianUs() const { return m_medianUs; }
    // min/median/p99/max and the display histogram of the last minute as of nowMs.
    void fill(IntervalStats *stats, qint64 nowMs) const;

    static int binOf(qint64 intervalUs);
    static qint64 binMiddleUs(int bin);

private:
    struct Half
    {
        qint64 index = -1;   // nowMs / HalfMs of the intervals in it; -1: empty
        qint32 minUs = -1;
        qint32 maxUs = -1;
        quint16 bins[Bins] = {}; // saturate, beyond 2 kHz for 30 s
    };

    void turnTo(qint64 half);
    bool inWindow(const Half &half, qint64 nowMs) const
    {
        return half.index >= 0 && half.index >= nowMs / HalfMs - 1;
    }
    // The interval below which a fraction of the window's intervals lie (per mille); -1: none.
    qint32 percentileUs(int perMille, qint64 nowMs) const;

    Half m_halves[2];
    qint64 m_newest = -1;
    qint64 m_medianAtMs = 0;
    qint32 m_medianUs = -1;
};

#endif // INTERVALHISTOGRAM_H
