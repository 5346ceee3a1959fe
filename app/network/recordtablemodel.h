#ifndef RECORDTABLEMODEL_H
#define RECORDTABLEMODEL_H

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QStringList>
#include <QVector>

// A table with one row per record, brought up to date in place on every refresh: rows whose
// texts change are announced with dataChanged, new records are inserted at the end and vanished
// ones removed, so that a view keeps its selection, sort order and scroll position from one
// refresh to the next. Subclasses say what identifies a record, what its columns show and
// whether a row looks different.
template <typename Record>
class RecordTableModel : public QAbstractTableModel
{
public:
    // The raw value of a cell for sorting, so that numbers, addresses and ages sort as such.
    static constexpr int SortRole = Qt::UserRole;
    // Whether the row's record is live, for a filter that hides the silent ones.
    static constexpr int LiveRole = Qt::UserRole + 1;

    RecordTableModel(const QStringList &columnTitles, QObject *parent)
        : QAbstractTableModel(parent), m_columnTitles(columnTitles)
    {
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_rows.size());
    }

    int columnCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_columnTitles.size());
    }

    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0
            && section < m_columnTitles.size())
            return m_columnTitles.at(section);
        return QAbstractTableModel::headerData(section, orientation, role);
    }

    // One answer for every model: the role picks which of the record's small functions says it.
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const final
    {
        if (!isCell(index))
            return QVariant();
        const Record &record = m_rows.at(index.row());
        const int column = index.column();
        switch (role) {
        case Qt::DisplayRole:
            return display(record, column, m_nowMs);
        case SortRole:
            return sortValue(record, column);
        case LiveRole:
            return isLive(record);
        case Qt::ForegroundRole:
            return foreground(record, column);
        case Qt::ToolTipRole:
            return toolTip(record, column);
        case Qt::TextAlignmentRole:
            return alignment(column);
        default:
            return QVariant();
        }
    }

    const Record &recordAt(int row) const { return m_rows.at(row); }

protected:
    // What identifies a record from one refresh to the next.
    virtual quint64 keyOf(const Record &record) const = 0;
    // Whether a row shows the same texts and colours for after, now, as it did for before at
    // the previous refresh (ages depend on the clock: previousNowMs() and nowMs()).
    virtual bool looksTheSame(const Record &before, const Record &after) const = 0;
    // What a cell shows for a record at nowMs.
    virtual QVariant display(const Record &record, int column, qint64 nowMs) const = 0;
    // The cell's value for SortRole; its text unless a number, address or age sorts better.
    virtual QVariant sortValue(const Record &record, int column) const
    {
        return display(record, column, m_nowMs);
    }
    virtual bool isLive(const Record &) const { return true; }
    virtual QVariant foreground(const Record &, int) const { return QVariant(); }
    virtual QVariant toolTip(const Record &, int) const { return QVariant(); }
    // Numbers sit right; a column without an alignment of its own takes the view's.
    virtual QVariant alignment(int) const { return QVariant(); }
    static QVariant rightAligned() { return int(Qt::AlignRight | Qt::AlignVCenter); }
    // Whether every cell of the row shows the same for after, now, as for before at the
    // previous refresh.
    bool showsTheSameTexts(const Record &before, const Record &after) const
    {
        for (int column = 0; column < columnCount(); ++column) {
            if (display(before, column, m_previousNowMs) != display(after, column, m_nowMs))
                return false;
        }
        return true;
    }

    qint64 nowMs() const { return m_nowMs; }
    qint64 previousNowMs() const { return m_previousNowMs; }

    bool isCell(const QModelIndex &index) const
    {
        return index.isValid() && !index.parent().isValid() && index.row() < m_rows.size()
                && index.column() < m_columnTitles.size();
    }

    void replaceRows(const QList<Record> &fresh, qint64 nowMs)
    {
        m_previousNowMs = m_nowMs;
        m_nowMs = nowMs;
        QHash<quint64, int> freshRow;
        freshRow.reserve(fresh.size());
        for (int i = 0; i < fresh.size(); ++i)
            freshRow.insert(keyOf(fresh.at(i)), i);
        removeVanished(freshRow);
        QVector<bool> shown(fresh.size(), false);
        updateKnown(fresh, freshRow, shown);
        appendNew(fresh, freshRow, shown);
    }

private:
    void removeVanished(const QHash<quint64, int> &freshRow)
    {
        // From the bottom up, one removal per run of vanished rows.
        for (int last = int(m_rows.size()) - 1; last >= 0;) {
            if (freshRow.contains(keyOf(m_rows.at(last)))) {
                --last;
                continue;
            }
            int first = last;
            while (first > 0 && !freshRow.contains(keyOf(m_rows.at(first - 1))))
                --first;
            beginRemoveRows(QModelIndex(), first, last);
            m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
            endRemoveRows();
            last = first - 1;
        }
    }

    void updateKnown(const QList<Record> &fresh, const QHash<quint64, int> &freshRow,
                     QVector<bool> &shown)
    {
        int firstChanged = -1;
        for (int row = 0; row < m_rows.size(); ++row) {
            const int at = freshRow.value(keyOf(m_rows.at(row)));
            shown[at] = true;
            const bool changed = !looksTheSame(m_rows.at(row), fresh.at(at));
            m_rows[row] = fresh.at(at);
            if (changed && firstChanged < 0)
                firstChanged = row;
            if (!changed && firstChanged >= 0) {
                announceChange(firstChanged, row - 1);
                firstChanged = -1;
            }
        }
        if (firstChanged >= 0)
            announceChange(firstChanged, int(m_rows.size()) - 1);
    }

    void appendNew(const QList<Record> &fresh, const QHash<quint64, int> &freshRow,
                   const QVector<bool> &shown)
    {
        QList<Record> added;
        for (int i = 0; i < fresh.size(); ++i) {
            // A key given twice counts once, as its last record.
            if (!shown.at(i) && freshRow.value(keyOf(fresh.at(i))) == i)
                added << fresh.at(i);
        }
        if (added.isEmpty())
            return;
        beginInsertRows(QModelIndex(), int(m_rows.size()), int(m_rows.size() + added.size()) - 1);
        m_rows += added;
        endInsertRows();
    }

    void announceChange(int first, int last)
    {
        emit this->dataChanged(index(first, 0), index(last, columnCount() - 1));
    }

    QStringList m_columnTitles;
    QList<Record> m_rows;
    qint64 m_nowMs = 0;
    qint64 m_previousNowMs = 0;
};

#endif // RECORDTABLEMODEL_H
