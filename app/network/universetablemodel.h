#ifndef UNIVERSETABLEMODEL_H
#define UNIVERSETABLEMODEL_H

#include "recordtablemodel.h"
#include "universetraffic.h"

// Every universe that carried ArtDmx: how many senders it has, how fast, how clean, and whether
// two of them fight over it.
class UniverseTableModel : public RecordTableModel<UniverseTraffic>
{
    Q_OBJECT

public:
    enum Column { UniverseColumn, NetSubUniColumn, SourcesColumn, RateColumn,
                  SequenceErrorsColumn, LastSeenColumn, WarningColumn };

    explicit UniverseTableModel(QObject *parent = nullptr);

    void setUniverses(const QList<UniverseTraffic> &universes, qint64 nowMs);
    // The universe number as the spin box shows it.
    int universeAt(int row) const;

protected:
    quint64 keyOf(const UniverseTraffic &universe) const override;
    bool looksTheSame(const UniverseTraffic &before, const UniverseTraffic &after) const override;

private:
    QVariant display(const UniverseTraffic &universe, int column, qint64 nowMs) const override;
    QVariant sortValue(const UniverseTraffic &universe, int column) const override;
    bool isLive(const UniverseTraffic &universe) const override;
    QVariant foreground(const UniverseTraffic &universe, int column) const override;
    QVariant toolTip(const UniverseTraffic &universe, int column) const override;
    QVariant alignment(int column) const override;
};

#endif // UNIVERSETABLEMODEL_H
