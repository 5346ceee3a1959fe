#include "timecodetablemodel.h"

#include <QHash>

TimeCodeTableModel::TimeCodeTableModel(QObject *parent)
    : RecordTableModel({tr("Sender"), tr("Time"), tr("Type"), tr("State")}, parent)
{
}

void TimeCodeTableModel::setSources(const QList<TimeCodeSource> &sources, qint64 nowMs)
{
    QHash<quint32, int> shownRow;
    for (int row = 0; row < rowCount(); ++row)
        shownRow.insert(recordAt(row).address, row);
    QList<TimeCodeRow> rows;
    rows.reserve(sources.size());
    for (const TimeCodeSource &source : sources) {
        TimeCodeRow row{source, source.sender.toIPv4Address(), -1};
        const auto known = shownRow.constFind(row.address);
        if (known != shownRow.constEnd()) {
            const TimeCodeRow &before = recordAt(known.value());
            row.changedMs = sameTime(before.source, source) ? before.changedMs : nowMs;
        }
        rows << row;
    }
    replaceRows(rows, nowMs);
}

bool TimeCodeTableModel::isRunning(int row) const
{
    return runningAt(recordAt(row), nowMs());
}

bool TimeCodeTableModel::sameTime(const TimeCodeSource &a, const TimeCodeSource &b)
{
    return a.frames == b.frames && a.seconds == b.seconds && a.minutes == b.minutes
            && a.hours == b.hours && a.type == b.type;
}

bool TimeCodeTableModel::runningAt(const TimeCodeRow &row, qint64 nowMs) const
{
    return row.changedMs >= 0 && nowMs - row.changedMs < RunningForMs;
}

quint64 TimeCodeTableModel::keyOf(const TimeCodeRow &row) const
{
    return row.address;
}

bool TimeCodeTableModel::looksTheSame(const TimeCodeRow &before, const TimeCodeRow &after) const
{
    return sameTime(before.source, after.source)
            && runningAt(before, previousNowMs()) == runningAt(after, nowMs());
}

QVariant TimeCodeTableModel::sortValue(const TimeCodeRow &row, int column) const
{
    return column == SenderColumn ? QVariant(row.address) : display(row, column, nowMs());
}

QVariant TimeCodeTableModel::display(const TimeCodeRow &row, int column, qint64 nowMs) const
{
    const TimeCodeSource &source = row.source;
    switch (column) {
    case SenderColumn:
        return source.sender.toString();
    case TimeColumn:
        return QStringLiteral("%1:%2:%3:%4")
                .arg(int(source.hours), 2, 10, QLatin1Char('0'))
                .arg(int(source.minutes), 2, 10, QLatin1Char('0'))
                .arg(int(source.seconds), 2, 10, QLatin1Char('0'))
                .arg(int(source.frames), 2, 10, QLatin1Char('0'));
    case TypeColumn:
        switch (source.type) {
        case 0:
            return tr("Film 24");
        case 1:
            return tr("EBU 25");
        case 2:
            return tr("DF 29.97");
        case 3:
            return tr("SMPTE 30");
        default:
            return tr("type %1").arg(int(source.type));
        }
    case StateColumn:
        return runningAt(row, nowMs) ? tr("running") : tr("stopped");
    default:
        return QVariant();
    }
}
