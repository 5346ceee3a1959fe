#ifndef TINTEDSELECTIONDELEGATE_H
#define TINTEDSELECTIONDELEGATE_H

#include <QStyledItemDelegate>

// Draws a selected cell that has a background tint with its tint and a frame in the selection
// colour, instead of filling it with the selection colour: the channels chosen for the scope
// keep showing how recently they changed.
class TintedSelectionDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};

#endif // TINTEDSELECTIONDELEGATE_H
