#include "intervalhistogram.h"

#include <QtAlgorithms>

#include <algorithm>
#include <limits>

int IntervalHistogram::binOf(qint64 intervalUs)
{
    if (intervalUs < (qint64(1) << LowestOctave))
        return 0;
    if (intervalUs >= (qint64(1) << (LowestOctave + Octaves)))
        return Bins - 1;
    const int octave = 63 - int(qCountLeadingZeroBits(quint64(intervalUs)));
    // The four bits below the leading one pick the bin within the octave.
    const int within = int(intervalUs >> (octave - 4)) & (BinsPerOctave - 1);
    return 1 + (octave - LowestOctave) * BinsPerOctave + within;
}

qint64 IntervalHistogram::binMiddleUs(int bin)
{
    if (bin <= 0)
        return (qint64(1) << LowestOctave) / 2;
    const int octave = LowestOctave + (bin - 1) / BinsPerOctave;
    const int within = (bin - 1) % BinsPerOctave;
    const qint64 width = qint64(1) << (octave - 4);
    return (BinsPerOctave + within) * width + width / 2;
}

void IntervalHistogram::turnTo(qint64 half)
{
    const qint64 stamp = half + 1;
    if (stamp <= m_newestStamp)
        return;
    for (Half &slot : m_halves) {
        if (slot.stamp < stamp - 1)
            slot = Half();
    }
    m_newestStamp = stamp;
}

void IntervalHistogram::add(qint64 intervalUs, qint64 nowMs)
{
    nowMs = std::max<qint64>(nowMs, 0);
    const qint64 half = nowMs / HalfMs;
    const bool turned = half + 1 > m_newestStamp;
    turnTo(half);
    Half &slot = m_halves[(m_newestStamp - 1) % 2];
    if (turned || nowMs - m_medianAtMs >= MedianRefreshMs || nowMs < m_medianAtMs) {
        m_medianUsPlusOne = percentileUs(500, nowMs) + 1;
        m_medianAtMs = nowMs;
    }
    const auto us = qint32(std::min<qint64>(intervalUs, std::numeric_limits<qint32>::max() - 1));
    quint16 &count = slot.bins[binOf(us)];
    if (count < std::numeric_limits<quint16>::max())
        ++count;
    if (slot.stamp != m_newestStamp) {
        slot.stamp = m_newestStamp;
        slot.minUs = slot.maxUs = us;
    }
    slot.minUs = std::min(slot.minUs, us);
    slot.maxUs = std::max(slot.maxUs, us);
}

qint32 IntervalHistogram::percentileUs(int perMille, qint64 nowMs) const
{
    quint64 total = 0;
    qint32 minUs = -1;
    qint32 maxUs = -1;
    for (const Half &half : m_halves) {
        if (!inWindow(half, nowMs))
            continue;
        for (const quint16 count : half.bins)
            total += count;
        minUs = minUs < 0 ? half.minUs : std::min(minUs, half.minUs);
        maxUs = std::max(maxUs, half.maxUs);
    }
    if (total == 0)
        return -1;
    const quint64 rank = std::max<quint64>(1, (total * quint64(perMille) + 999) / 1000);
    quint64 below = 0;
    for (int bin = 0; bin < Bins; ++bin) {
        for (const Half &half : m_halves) {
            if (inWindow(half, nowMs))
                below += half.bins[bin];
        }
        if (below >= rank)
            return qint32(std::clamp<qint64>(binMiddleUs(bin), minUs, maxUs));
    }
    return maxUs;
}

void IntervalHistogram::fill(IntervalStats *stats, qint64 nowMs) const
{
    stats->minUs = stats->maxUs = -1;
    stats->histogram = {};
    for (const Half &half : m_halves) {
        if (!inWindow(half, nowMs))
            continue;
        stats->minUs = stats->minUs < 0 ? half.minUs : std::min(stats->minUs, half.minUs);
        stats->maxUs = std::max(stats->maxUs, half.maxUs);
        int display = 0;
        for (int bin = 0; bin < Bins; ++bin) {
            const qint64 middleUs = binMiddleUs(bin);
            while (display < IntervalStats::DisplayBuckets - 1
                   && middleUs >= qint64(IntervalStats::DisplayUpperMs[size_t(display)]) * 1000)
                ++display;
            stats->histogram[size_t(display)] += half.bins[bin];
        }
    }
    stats->medianUs = percentileUs(500, nowMs);
    stats->p99Us = percentileUs(990, nowMs);
}
