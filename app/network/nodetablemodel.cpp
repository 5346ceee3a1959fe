#include "nodetablemodel.h"

#include "networktexts.h"

#include <algorithm>

namespace {

constexpr int PortsPerReply = 4;
constexpr quint8 PortCanInput = 0x40;
constexpr quint8 PortCanOutput = 0x80;
constexpr quint8 InputDisabled = 0x08; // GoodInput

QString universeList(const QList<int> &universes)
{
    QStringList texts;
    for (int universe : universes)
        texts << QString::number(universe);
    return texts.join(QStringLiteral(", "));
}

} // namespace

NodeTableModel::NodeTableModel(QObject *parent)
    : RecordTableModel({tr("Name"), tr("IP"), tr("MAC"), tr("Firmware"), tr("Inputs"),
                        tr("Outputs"), tr("Status"), tr("Last seen"), tr("Warning")},
                       parent)
{
}

void NodeTableModel::setNodes(const QList<NodeInfo> &nodes, qint64 nowMs)
{
    replaceRows(nodes, nowMs);
}

QList<int> NodeTableModel::universesAt(const QModelIndex &index) const
{
    if (!isCell(index))
        return {};
    if (index.column() == InputsColumn)
        return portUniverses(recordAt(index.row()), true);
    if (index.column() == OutputsColumn)
        return portUniverses(recordAt(index.row()), false);
    return {};
}

// A port counts when the node says it can take data in (or put it out) and, for an input, has
// not switched it off: an unpatched console reports every port, all on the same universe.
NodeTableModel::PortState NodeTableModel::portState(const NodeInfo &node, int port, bool inputs)
{
    if (!(node.portTypes[port] & (inputs ? PortCanInput : PortCanOutput)))
        return PortAbsent;
    if (inputs && (node.goodInput[port] & InputDisabled))
        return PortDisabled;
    return PortWorking;
}

QList<int> NodeTableModel::portUniverses(const NodeInfo &node, bool inputs)
{
    QList<int> universes;
    const int ports = std::min<int>(node.numPorts, PortsPerReply);
    for (int port = 0; port < ports; ++port) {
        if (portState(node, port, inputs) == PortWorking)
            universes << int(inputs ? node.swIn[port] : node.swOut[port]) + 1;
    }
    return universes;
}

QString NodeTableModel::portsToolTip(const NodeInfo &node, bool inputs) const
{
    QStringList lines{tr("Double-click to show one of these universes")};
    const int ports = std::min<int>(node.numPorts, PortsPerReply);
    for (int port = 0; port < ports; ++port) {
        if (portState(node, port, inputs) == PortDisabled) {
            lines << tr("Port %1 (universe %2) is disabled and not listed")
                             .arg(port + 1)
                             .arg(int(inputs ? node.swIn[port] : node.swOut[port]) + 1);
        }
    }
    return lines.join(QLatin1Char('\n'));
}

quint64 NodeTableModel::keyOf(const NodeInfo &node) const
{
    return quint64(node.sourceAddress) << 8 | node.bindIndex;
}

bool NodeTableModel::looksTheSame(const NodeInfo &before, const NodeInfo &after) const
{
    if (before.gone != after.gone || details(before) != details(after))
        return false;
    return showsTheSameTexts(before, after);
}

QVariant NodeTableModel::sortValue(const NodeInfo &node, int column) const
{
    if (column == AddressColumn)
        return node.packetAddress;
    if (column == LastSeenColumn)
        return node.lastSeenMs;
    return display(node, column, nowMs());
}

QVariant NodeTableModel::foreground(const NodeInfo &node, int column) const
{
    if (column == WarningColumn)
        return NetworkTexts::warningColour();
    return node.gone ? QVariant(NetworkTexts::staleColour()) : QVariant();
}

QVariant NodeTableModel::toolTip(const NodeInfo &node, int column) const
{
    if (column == InputsColumn || column == OutputsColumn)
        return portsToolTip(node, column == InputsColumn);
    return details(node);
}

QVariant NodeTableModel::display(const NodeInfo &node, int column, qint64 nowMs) const
{
    switch (column) {
    case NameColumn:
        return node.self ? tr("%1 (this program)").arg(node.shortName) : node.shortName;
    case AddressColumn:
        return NetworkTexts::address(node.packetAddress);
    case MacColumn:
        return NetworkTexts::mac(node.mac);
    case FirmwareColumn:
        return tr("%1.%2").arg(node.firmware >> 8).arg(node.firmware & 0xff);
    case InputsColumn:
        return universeList(portUniverses(node, true));
    case OutputsColumn:
        return universeList(portUniverses(node, false));
    case StatusColumn:
        if (node.gone)
            return tr("gone");
        return node.nodeReport.isEmpty() ? tr("ok") : node.nodeReport;
    case LastSeenColumn:
        return NetworkTexts::age(node.lastSeenMs, nowMs);
    case WarningColumn:
        if (!node.addressMismatch())
            return QString();
        return tr("Reply names %1 but comes from %2")
                .arg(NetworkTexts::address(node.packetAddress),
                     NetworkTexts::address(node.sourceAddress));
    default:
        return QVariant();
    }
}

QString NodeTableModel::details(const NodeInfo &node) const
{
    return tr("%1\nport %2, BindIndex %3, OEM 0x%4, ESTA 0x%5, Style %6\n"
              "Status1 0x%7, Status2 0x%8, %9 ports")
            .arg(node.longName)
            .arg(node.port)
            .arg(int(node.bindIndex))
            .arg(node.oem, 4, 16, QLatin1Char('0'))
            .arg(node.esta, 4, 16, QLatin1Char('0'))
            .arg(int(node.style))
            .arg(int(node.status1), 2, 16, QLatin1Char('0'))
            .arg(int(node.status2), 2, 16, QLatin1Char('0'))
            .arg(node.numPorts);
}
