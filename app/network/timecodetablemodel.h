#ifndef TIMECODETABLEMODEL_H
#define TIMECODETABLEMODEL_H

#include "recordtablemodel.h"
#include "timecodesource.h"

// One sender of ArtTimeCode with the moment its time last moved.
struct TimeCodeRow
{
    TimeCodeSource source;
    quint32 address = 0;
    qint64 changedMs = -1; // -1: not seen moving yet
};

// Every sender of ArtTimeCode: its time, its frame rate and whether the clock runs.
class TimeCodeTableModel : public RecordTableModel<TimeCodeRow>
{
    Q_OBJECT

public:
    enum Column { SenderColumn, TimeColumn, TypeColumn, StateColumn };
    // A clock whose time has not moved for this long counts as stopped.
    static constexpr qint64 RunningForMs = 1000;

    explicit TimeCodeTableModel(QObject *parent = nullptr);

    // nowMs: any steadily rising clock in milliseconds; it dates the changes of time.
    void setSources(const QList<TimeCodeSource> &sources, qint64 nowMs);
    bool isRunning(int row) const;

protected:
    quint64 keyOf(const TimeCodeRow &row) const override;
    bool looksTheSame(const TimeCodeRow &before, const TimeCodeRow &after) const override;

private:
    static bool sameTime(const TimeCodeSource &a, const TimeCodeSource &b);
    bool runningAt(const TimeCodeRow &row, qint64 nowMs) const;
    QVariant display(const TimeCodeRow &row, int column, qint64 nowMs) const override;
    QVariant sortValue(const TimeCodeRow &row, int column) const override;
};

#endif // TIMECODETABLEMODEL_H
