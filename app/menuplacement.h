#ifndef MENUPLACEMENT_H
#define MENUPLACEMENT_H

class QMainWindow;
class QMenu;

// Puts a command's menu beside the other commands' menus: before the separator that sets
// menuAfter (Help) apart, or right before menuAfter when there is none.
void insertMenuBefore(QMainWindow *window, QMenu *menu, QMenu *menuAfter);

#endif // MENUPLACEMENT_H
