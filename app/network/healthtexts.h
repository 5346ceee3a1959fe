#ifndef HEALTHTEXTS_H
#define HEALTHTEXTS_H

#include "intervalstats.h"

#include <QCoreApplication>
#include <QString>

// How evenly a source sends, in the sources tables: the median and 99th percentile interval in
// a cell, every figure and a histogram of the last minute's intervals in its tool tip. Only
// numbers go into the tool tip's markup.
class HealthTexts
{
    Q_DECLARE_TR_FUNCTIONS(HealthTexts)

public:
    // "23 / 31 ms", or "-" before two packets arrived in the last minute.
    static QString cell(const IntervalStats &health);
    // A rich-text table: the figures, then one row of bars per display bucket.
    static QString toolTip(const IntervalStats &health);
    // "≤ 5 ms", "5–10 ms", ..., "> 1000 ms".
    static QString bucketLabel(int bucket);
};

#endif // HEALTHTEXTS_H
