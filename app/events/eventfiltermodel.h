#ifndef EVENTFILTERMODEL_H
#define EVENTFILTERMODEL_H

#include <QSortFilterProxyModel>
#include <QString>

// The log's rows that the user asked for: one kind or all, a universe, and a text that any
// cell holds (case aside). The universe is a number, found in either protocol ("1" matches
// Art-Net 1 and sACN 1), or a text the Universe cell holds ("sacn 7").
class EventFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit EventFilterModel(QObject *parent = nullptr);

    void setKind(int kind); // a DmxEventKind as an int, or -1 for all
    void setUniverse(const QString &text);
    void setText(const QString &text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    bool universeMatches(int sourceRow) const;
    bool textMatches(int sourceRow) const;

    int m_kind = -1;
    QString m_universe;
    int m_universeNumber = -1; // the universe as the user numbers it, when a number
    QString m_text;
};

#endif // EVENTFILTERMODEL_H
