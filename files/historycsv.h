#ifndef HISTORYCSV_H
#define HISTORYCSV_H

#include <QList>
#include <QtGlobal>

class FrameHistory;
class QIODevice;

// The frame history of some channels as comma-separated text: a header line, then one line
// "time_ms,channel,level" for each channel in the first frame (its starting level) and for
// each later change. Time in milliseconds from the first frame, to the microsecond; channels
// 1-based, in ascending order within one frame.
namespace HistoryCsv {

// channels: 0-based, ascending; the history as kept at nowNs. False when a write failed.
bool write(QIODevice *out, const FrameHistory &history, const QList<int> &channels, qint64 nowNs);

} // namespace HistoryCsv

#endif // HISTORYCSV_H
