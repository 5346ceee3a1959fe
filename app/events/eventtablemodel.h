#ifndef EVENTTABLEMODEL_H
#define EVENTTABLEMODEL_H

#include "dmxframe.h"

#include <QAbstractTableModel>

class EventLog;
struct DmxEvent;

// The events of a log, newest first. The log is read, never copied: a row stands for a serial
// number, so a view that asks between two catch-ups sees the rows it was told of. catchUp(),
// called from a timer, inserts what came since at the top and removes what the log let go at
// the bottom; nothing happens per packet.
class EventTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { TimeColumn, KindColumn, UniverseColumn, SourceColumn, TextColumn, ColumnCount };
    // A row's DmxEventKind as an int; its universe as UniverseKey packed by universeCode(), -1
    // for none.
    static constexpr int KindRole = Qt::UserRole;
    static constexpr int UniverseRole = Qt::UserRole + 1;

    explicit EventTableModel(EventLog *log, QObject *parent = nullptr);

    static int universeCode(UniverseKey key) { return int(key.protocol) << 16 | key.number; }
    static UniverseKey universeOfCode(int code);

    EventLog *log() const { return m_log; }
    // Returns whether rows came or went.
    bool catchUp();
    // Rows of this universe stand out.
    void setUniverseOnShow(UniverseKey universe);
    // The row's event, or null once the log let it go.
    const DmxEvent *eventAt(int row) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QVariant display(const DmxEvent &event, int column) const;
    QVariant look(const DmxEvent &event, int role) const;

    EventLog *m_log;
    quint64 m_newestShown = 0; // the serial of row 0
    int m_rows = 0;
    UniverseKey m_universeOnShow;
};

#endif // EVENTTABLEMODEL_H
