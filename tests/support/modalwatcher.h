#ifndef MODALWATCHER_H
#define MODALWATCHER_H

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QFileDialog;
class QString;
class QWidget;

// Answers every modal widget that opens while it lives, through the given handler, so that the
// boxes and dialogs that the window runs with exec() come back to the test.
class ModalWatcher : public QObject
{
public:
    using Handler = std::function<void(QWidget *)>;

    explicit ModalWatcher(Handler handler);
    int seen() const { return m_seen; }

private:
    Handler m_handler;
    QList<QPointer<QWidget>> m_handled;
    QTimer m_timer;
    int m_seen = 0;
};

// The file dialog does not take a selected name into its name field while that field has the
// focus, so the name is typed there as a user would.
void chooseInDialog(QFileDialog *dialog, const QString &path);

#endif // MODALWATCHER_H
