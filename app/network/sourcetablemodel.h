#ifndef SOURCETABLEMODEL_H
#define SOURCETABLEMODEL_H

#include "dmxsource.h"
#include "recordtablemodel.h"

#include <QHash>
#include <QString>

// One sender of a universe, with the name that a node reply gives its address.
struct SourceRow
{
    DmxSource source;
    QString nodeName;
};

// The senders of one universe: who they are, how fast and how cleanly they send.
class SourceTableModel : public RecordTableModel<SourceRow>
{
    Q_OBJECT

public:
    enum Column { AddressColumn, NodeColumn, PhysicalColumn, RateColumn, SequenceErrorsColumn,
                  MalformedColumn, SyncColumn, LastSeenColumn,
                  HealthColumn };

    explicit SourceTableModel(QObject *parent = nullptr);

    // nodeNames: the short name of the node that replies from each IPv4 address.
    void setSources(const QList<DmxSource> &sources, const QHash<quint32, QString> &nodeNames,
                    qint64 nowMs);

protected:
    quint64 keyOf(const SourceRow &row) const override;
    bool looksTheSame(const SourceRow &before, const SourceRow &after) const override;

private:
    QVariant display(const SourceRow &row, int column, qint64 nowMs) const override;
    QVariant sortValue(const SourceRow &row, int column) const override;
    QVariant foreground(const SourceRow &row, int column) const override;
    QVariant toolTip(const SourceRow &row, int column) const override;
    QVariant alignment(int column) const override;
};

#endif // SOURCETABLEMODEL_H
