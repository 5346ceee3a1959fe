#ifndef COMMANDKEYS_H
#define COMMANDKEYS_H

#include <QObject>

class QAbstractSpinBox;
class QKeyEvent;
class QWidget;

// Lets the window's commands keep their shortcuts while a spin box has the focus: a widget that
// accepts the shortcut-override event takes the key as typing and the command never runs; left
// unaccepted, the key goes to the window's shortcuts.
class CommandKeys : public QObject
{
public:
    // window: whose direct child actions are the commands.
    explicit CommandKeys(QWidget *window);

    void watch(QAbstractSpinBox *box);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool isCommandShortcut(const QKeyEvent *event) const;

    QWidget *m_window;
};

#endif // COMMANDKEYS_H
