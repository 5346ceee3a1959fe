#ifndef STATUSENTRY_H
#define STATUSENTRY_H

#include <QLabel>

class QMouseEvent;

// A status-bar text that a click acts on: the event count opens the log, the alarm
// acknowledges. Plain text only: it may quote what a sender calls itself.
class StatusEntry : public QLabel
{
    Q_OBJECT

public:
    explicit StatusEntry(QWidget *parent = nullptr);

    void setWarning(bool on);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

#endif // STATUSENTRY_H
