#ifndef SACNSOURCETABLEMODEL_H
#define SACNSOURCETABLEMODEL_H

#include "dmxsource.h"
#include "recordtablemodel.h"
#include "sacnsourceinfo.h"

#include <QString>

// One sACN source of a universe: the census's count of its packets joined by CID with what its
// last data packet said, and the texts made of them once per refresh rather than per cell.
struct SacnSourceRow
{
    DmxSource source;
    SacnSourceInfo info;
    bool described = false; // still a live source (E1.31 drops one after 2.5 s or at its end)
    QString cidText;
    QString nameText;       // its name with what could disturb the table made visible
    QString addressText;
};

// The sources of one sACN universe: who they are, at which priority, how fast and how cleanly
// they send.
class SacnSourceTableModel : public RecordTableModel<SacnSourceRow>
{
    Q_OBJECT

public:
    enum Column { CidColumn, NameColumn, AddressColumn, PriorityColumn, PreviewColumn, RateColumn,
                  SequenceErrorsColumn, MalformedColumn, SyncColumn, LastSeenColumn,
                  HealthColumn };

    explicit SacnSourceTableModel(QObject *parent = nullptr);

    // sources: the census's sources of universe; described: the live sources of every universe.
    // A source no longer described keeps the name and priority it was last shown with.
    void setSources(quint16 universe, const QList<DmxSource> &sources,
                    const QList<SacnSourceInfo> &described, qint64 nowMs);

protected:
    quint64 keyOf(const SacnSourceRow &row) const override;
    bool looksTheSame(const SacnSourceRow &before, const SacnSourceRow &after) const override;

private:
    SacnSourceRow rowOf(quint16 universe, const DmxSource &source,
                        const QList<const SacnSourceInfo *> &described) const;
    static bool invalidPriority(const SacnSourceRow &row);
    bool isLive(const SacnSourceRow &row) const override;
    QVariant display(const SacnSourceRow &row, int column, qint64 nowMs) const override;
    QVariant sortValue(const SacnSourceRow &row, int column) const override;
    QVariant foreground(const SacnSourceRow &row, int column) const override;
    QVariant toolTip(const SacnSourceRow &row, int column) const override;
    QVariant alignment(int column) const override;
};

#endif // SACNSOURCETABLEMODEL_H
