#include "menuplacement.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

void insertMenuBefore(QMainWindow *window, QMenu *menu, QMenu *menuAfter)
{
    const QList<QAction *> entries = window->menuBar()->actions();
    const qsizetype help = entries.indexOf(menuAfter->menuAction());
    QAction *before = menuAfter->menuAction();
    if (help > 0 && entries.at(help - 1)->isSeparator())
        before = entries.at(help - 1);
    window->menuBar()->insertMenu(before, menu);
}
