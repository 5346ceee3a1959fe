#ifndef WATCHEDUNIVERSESDIALOG_H
#define WATCHEDUNIVERSESDIALOG_H

#include <QDialog>
#include <QList>

class QCheckBox;
class QLabel;
class QLineEdit;

// Asks which universes raise an alarm, as numbers and ranges the way the window numbers them
// (Art-Net from 1), and whether time code stopping does and alarms reach the desktop too.
class WatchedUniversesDialog : public QDialog
{
    Q_OBJECT

public:
    struct Choice
    {
        QList<quint16> artNet; // as the window numbers them: port-address + 1
        QList<quint16> sacn;
        bool timeCode = false;
        bool desktopNotify = false;
    };

    explicit WatchedUniversesDialog(const Choice &choice, QWidget *parent = nullptr);

    // What the user confirmed; what the dialog was opened with until then.
    Choice choice() const { return m_choice; }

public slots:
    void accept() override;

private:
    QLineEdit *addEdit(const QString &label, const QList<quint16> &universes, const char *name);

    QLineEdit *m_artNetEdit = nullptr;
    QLineEdit *m_sacnEdit = nullptr;
    QCheckBox *m_timeCodeBox = nullptr;
    QCheckBox *m_notifyBox = nullptr;
    QLabel *m_error = nullptr;
    Choice m_choice;
};

#endif // WATCHEDUNIVERSESDIALOG_H
