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
//
// All bits zero is the empty histogram, so that a table of them can be made zeroed by the
// system and its pages used only as sources take their slots.
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
    qint32 cachedMedianUs() const { return m_medianUsPlusOne - 1; }
    // min/median/p99/max and the display histogram of the last minute as of nowMs.
    void fill(IntervalStats *stats, qint64 nowMs) const;

    static int binOf(qint64 intervalUs);
    static qint64 binMiddleUs(int bin);

private:
    struct Half
    {
        qint64 stamp = 0;    // nowMs / HalfMs + 1 of the intervals in it; 0: empty
        qint32 minUs = 0;
        qint32 maxUs = 0;
        quint16 bins[Bins] = {}; // saturate, beyond 2 kHz for 30 s
    };

    void turnTo(qint64 half);
    static bool inWindow(const Half &half, qint64 nowMs)
    {
        return half.stamp > 0 && half.stamp - 1 >= nowMs / HalfMs - 1;
    }
    // The interval below which a fraction of the window's intervals lie (per mille); -1: none.
    qint32 percentileUs(int perMille, qint64 nowMs) const;

    Half m_halves[2];
    qint64 m_newestStamp = 0; // the newest half's stamp; 0: none yet
    qint64 m_medianAtMs = 0;
    qint32 m_medianUsPlusOne = 0;
};

#endif // INTERVALHISTOGRAM_H
