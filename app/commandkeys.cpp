#include "commandkeys.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QWidget>

#include <algorithm>

CommandKeys::CommandKeys(QWidget *window) : QObject(window), m_window(window) {}

void CommandKeys::watch(QAbstractSpinBox *box)
{
    // The box's line edit claims some keys of the commands for itself (on X11 Ctrl+E is its
    // end of line); the box passes them on to it, so both are watched.
    box->installEventFilter(this);
    if (auto *edit = box->findChild<QLineEdit *>())
        edit->installEventFilter(this);
}

bool CommandKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride
        && isCommandShortcut(static_cast<QKeyEvent *>(event))) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool CommandKeys::isCommandShortcut(const QKeyEvent *event) const
{
    const QKeySequence pressed(event->keyCombination());
    const QList<QAction *> commands = m_window->findChildren<QAction *>(Qt::FindDirectChildrenOnly);
    return std::any_of(commands.cbegin(), commands.cend(), [&](const QAction *action) {
        return action->isEnabled() && action->shortcuts().contains(pressed);
    });
}
