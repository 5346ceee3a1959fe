#ifndef NODETABLEMODEL_H
#define NODETABLEMODEL_H

#include "nodeinfo.h"
#include "recordtablemodel.h"

#include <QList>

// The nodes that answered ArtPoll, one row per node and BindIndex: who they are and which
// universes their ports take in and put out.
class NodeTableModel : public RecordTableModel<NodeInfo>
{
    Q_OBJECT

public:
    enum Column { NameColumn, AddressColumn, MacColumn, FirmwareColumn, InputsColumn,
                  OutputsColumn, StatusColumn, LastSeenColumn, WarningColumn };

    explicit NodeTableModel(QObject *parent = nullptr);

    void setNodes(const QList<NodeInfo> &nodes, qint64 nowMs);
    // The universe numbers (as the spin box shows them) of the ports in an Inputs or Outputs
    // cell; empty for any other cell.
    QList<int> universesAt(const QModelIndex &index) const;

protected:
    quint64 keyOf(const NodeInfo &node) const override;
    bool looksTheSame(const NodeInfo &before, const NodeInfo &after) const override;

private:
    enum PortState { PortAbsent, PortDisabled, PortWorking };

    static PortState portState(const NodeInfo &node, int port, bool inputs);
    static QList<int> portUniverses(const NodeInfo &node, bool inputs);
    QString portsToolTip(const NodeInfo &node, bool inputs) const;
    QVariant display(const NodeInfo &node, int column, qint64 nowMs) const override;
    QVariant sortValue(const NodeInfo &node, int column) const override;
    QVariant foreground(const NodeInfo &node, int column) const override;
    QVariant toolTip(const NodeInfo &node, int column) const override;
    QString details(const NodeInfo &node) const;
};

#endif // NODETABLEMODEL_H
