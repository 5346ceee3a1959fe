#ifndef WATCHLISTDIALOG_H
#define WATCHLISTDIALOG_H

#include <QDialog>
#include <QList>

class QLabel;
class QLineEdit;

// Asks for the sACN universes to follow besides the one on show, as numbers and ranges. A text
// that cannot be read keeps the dialog open with the reason beneath it.
class WatchListDialog : public QDialog
{
    Q_OBJECT
    friend class tst_Vardolux;
    friend class tst_Window;

public:
    explicit WatchListDialog(const QList<quint16> &universes, QWidget *parent = nullptr);

    // What the user confirmed; the universes the dialog was opened with until then.
    QList<quint16> universes() const { return m_universes; }

public slots:
    void accept() override;

private:
    QLineEdit *m_edit = nullptr;
    QLabel *m_error = nullptr;
    QList<quint16> m_universes;
};

#endif // WATCHLISTDIALOG_H
