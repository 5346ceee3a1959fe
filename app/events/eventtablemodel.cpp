#include "eventtablemodel.h"

#include "eventlog.h"
#include "eventtexts.h"
#include "networktexts.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include <algorithm>

EventTableModel::EventTableModel(EventLog *log, QObject *parent)
    : QAbstractTableModel(parent), m_log(log)
{
    catchUp();
}

UniverseKey EventTableModel::universeOfCode(int code)
{
    UniverseKey key;
    key.protocol = (code >> 16) == int(DmxProtocol::Sacn) ? DmxProtocol::Sacn : DmxProtocol::ArtNet;
    key.number = quint16(code & 0xffff);
    return key;
}

bool EventTableModel::catchUp()
{
    if (!m_log)
        return false;
    const quint64 newest = m_log->lastSerial();
    // The serials the log still holds: (newest - count, newest].
    const quint64 oldestKept = newest - quint64(m_log->count()) + 1;
    const quint64 oldestShown = m_newestShown - quint64(m_rows) + 1;
    int stillKept = 0;
    if (m_rows > 0 && m_newestShown >= oldestKept)
        stillKept = int(m_newestShown - std::max(oldestShown, oldestKept) + 1);
    const bool changed = stillKept != m_rows || newest != m_newestShown;
    if (stillKept < m_rows) {
        beginRemoveRows(QModelIndex(), stillKept, m_rows - 1);
        m_rows = stillKept;
        endRemoveRows();
    }
    const int fresh = int(std::min<quint64>(newest - m_newestShown, quint64(m_log->count())));
    if (fresh > 0) {
        beginInsertRows(QModelIndex(), 0, fresh - 1);
        m_newestShown = newest;
        m_rows += fresh;
        endInsertRows();
    }
    m_newestShown = newest;
    return changed;
}

void EventTableModel::setUniverseOnShow(UniverseKey universe)
{
    if (universe == m_universeOnShow)
        return;
    m_universeOnShow = universe;
    if (m_rows > 0)
        emit dataChanged(index(0, 0), index(m_rows - 1, ColumnCount - 1),
                         {Qt::FontRole, Qt::BackgroundRole});
}

const DmxEvent *EventTableModel::eventAt(int row) const
{
    if (!m_log || row < 0 || row >= m_rows)
        return nullptr;
    return m_log->bySerial(m_newestShown - quint64(row));
}

int EventTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int EventTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant EventTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn: return tr("Time");
    case KindColumn: return tr("Kind");
    case UniverseColumn: return tr("Universe");
    case SourceColumn: return tr("Source");
    case TextColumn: return tr("Text");
    default: return QVariant();
    }
}

QVariant EventTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const DmxEvent *event = eventAt(index.row());
    if (!event)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return display(*event, index.column());
    case Qt::ToolTipRole:
        return index.column() == TimeColumn ? QVariant(EventTexts::dateTime(event->wallMs))
                                            : QVariant();
    case KindRole:
        return int(event->kind);
    case UniverseRole:
        return event->hasUniverse ? universeCode(event->universe) : -1;
    default:
        return look(*event, role);
    }
}

QVariant EventTableModel::display(const DmxEvent &event, int column) const
{
    switch (column) {
    case TimeColumn: return EventTexts::time(event.wallMs);
    case KindColumn: return DmxEvent::kindText(event.kind);
    case UniverseColumn:
        return event.hasUniverse ? EventTexts::universe(event.universe) : QString();
    case SourceColumn: return EventTexts::source(event);
    case TextColumn: return NetworkTexts::visible(event.text);
    default: return QVariant();
    }
}

QVariant EventTableModel::look(const DmxEvent &event, int role) const
{
    const bool onShow = event.hasUniverse && event.universe == m_universeOnShow;
    if (!onShow)
        return QVariant();
    if (role == Qt::FontRole) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (role == Qt::BackgroundRole)
        return QBrush(QColor(0xff, 0xf0, 0xc0));
    return QVariant();
}
