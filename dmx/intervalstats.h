#ifndef INTERVALSTATS_H
#define INTERVALSTATS_H

#include <QtGlobal>

#include <array>

// How evenly one source sends: the intervals between its packets over the last minute, the
// longest silence since it appeared, and the stutters, where one interval stood far above the
// source's usual one. A console whose network drops a packet now and then shows here long before
// anyone sees a fixture flicker.
struct IntervalStats
{
    // The histogram a person reads: interval ranges in milliseconds, the last one open.
    static constexpr int DisplayBuckets = 12;
    static constexpr std::array<int, DisplayBuckets> DisplayUpperMs = {
        5, 10, 15, 20, 25, 30, 40, 50, 100, 250, 1000, 0 // 0: and longer
    };

    // Over the last minute, in microseconds; -1 while fewer than two packets arrived in it.
    qint32 minUs = -1;
    qint32 medianUs = -1;
    qint32 p99Us = -1;
    qint32 maxUs = -1;
    qint64 longestGapMs = 0;     // the longest interval since the source appeared
    quint32 stutters = 0;        // since it appeared
    qint64 longestStutterMs = 0; // the longest interval that counted as a stutter
    std::array<quint32, DisplayBuckets> histogram = {}; // intervals of the last minute
};

#endif // INTERVALSTATS_H
