#include "historycsv.h"

#include "framehistory.h"

#include <QByteArray>
#include <QIODevice>

#include <vector>

namespace {

constexpr int FlushSize = 64 * 1024;

void appendTime(QByteArray &line, qint64 sinceFirstNs)
{
    const qint64 microseconds = sinceFirstNs / 1000;
    line += QByteArray::number(microseconds / 1000);
    line += '.';
    line += QByteArray::number(microseconds % 1000).rightJustified(3, '0');
}

} // namespace

bool HistoryCsv::write(QIODevice *out, const FrameHistory &history, const QList<int> &channels,
                       qint64 nowNs)
{
    QByteArray text("time_ms,channel,level\n");
    const quint64 first = history.firstSerial(nowNs);
    const quint64 end = history.endSerial();
    // The level each channel had in the previous frame; -1 while no frame carried it.
    std::vector<int> previous(size_t(FrameHistory::FrameSize), -1);
    for (quint64 serial = first; serial < end; ++serial) {
        const uchar *levels = history.levelsAt(serial);
        const int length = history.lengthAt(serial);
        const qint64 sinceFirst = history.timeAt(serial) - history.timeAt(first);
        for (int channel : channels) {
            if (channel < 0 || channel >= length || previous[size_t(channel)] == levels[channel])
                continue;
            previous[size_t(channel)] = levels[channel];
            appendTime(text, sinceFirst);
            text += ',' + QByteArray::number(channel + 1) + ',' + QByteArray::number(levels[channel])
                    + '\n';
        }
        if (text.size() >= FlushSize) {
            if (out->write(text) != text.size())
                return false;
            text.clear();
        }
    }
    return out->write(text) == text.size();
}
