#include "tintedselectiondelegate.h"

#include <QPainter>

void TintedSelectionDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                    const QModelIndex &index) const
{
    if (!(option.state & QStyle::State_Selected) || !index.data(Qt::BackgroundRole).isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem unselected(option);
    unselected.state &= ~QStyle::State_Selected;
    QStyledItemDelegate::paint(painter, unselected, index);
    painter->save();
    painter->setPen(QPen(option.palette.highlight(), 2));
    painter->drawRect(QRectF(option.rect).adjusted(1, 1, -1, -1));
    painter->restore();
}
