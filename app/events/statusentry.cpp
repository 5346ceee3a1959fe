#include "statusentry.h"

#include "networktexts.h"

#include <QMouseEvent>
#include <QPalette>

StatusEntry::StatusEntry(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
}

void StatusEntry::setWarning(bool on)
{
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText,
                     on ? NetworkTexts::warningColour()
                        : QPalette().color(QPalette::WindowText));
    setPalette(colours);
    QFont font = this->font();
    font.setBold(on);
    setFont(font);
}

void StatusEntry::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}
