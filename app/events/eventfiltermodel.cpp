#include "eventfiltermodel.h"

#include "eventtablemodel.h"

EventFilterModel::EventFilterModel(QObject *parent) : QSortFilterProxyModel(parent) {}

void EventFilterModel::setKind(int kind)
{
    m_kind = kind;
    invalidateRowsFilter();
}

void EventFilterModel::setUniverse(const QString &text)
{
    m_universe = text.trimmed();
    bool number = false;
    const int value = m_universe.toInt(&number);
    m_universeNumber = number ? value : -1;
    invalidateRowsFilter();
}

void EventFilterModel::setText(const QString &text)
{
    m_text = text.trimmed();
    invalidateRowsFilter();
}

bool EventFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    const QAbstractItemModel *model = sourceModel();
    if (m_kind >= 0
        && model->index(sourceRow, 0).data(EventTableModel::KindRole).toInt() != m_kind)
        return false;
    return universeMatches(sourceRow) && textMatches(sourceRow);
}

bool EventFilterModel::universeMatches(int sourceRow) const
{
    if (m_universe.isEmpty())
        return true;
    const QModelIndex cell = sourceModel()->index(sourceRow, EventTableModel::UniverseColumn);
    const int code = cell.data(EventTableModel::UniverseRole).toInt();
    if (code < 0)
        return false;
    if (m_universeNumber >= 0) {
        const UniverseKey key = EventTableModel::universeOfCode(code);
        const int shown = key.protocol == DmxProtocol::Sacn ? key.number : key.number + 1;
        return shown == m_universeNumber;
    }
    return cell.data().toString().contains(m_universe, Qt::CaseInsensitive);
}

bool EventFilterModel::textMatches(int sourceRow) const
{
    if (m_text.isEmpty())
        return true;
    for (int column = 0; column < EventTableModel::ColumnCount; ++column) {
        if (sourceModel()->index(sourceRow, column).data().toString().contains(
                    m_text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}
