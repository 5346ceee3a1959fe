#ifndef REPLAYDIALOG_H
#define REPLAYDIALOG_H

#include "capturereplayer.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;

// Asks what to replay to the network: the capture file, its universes (all, or numbers and
// ranges), the networks (as captured, or those ticked) and whether to loop. A universe list that
// cannot be read, or no file, keeps the dialog open with the reason beneath.
class ReplayDialog : public QDialog
{
    Q_OBJECT

public:
    ReplayDialog(const QString &path, const QList<InterfaceEntry> &networks,
                 QWidget *parent = nullptr);

    // What the user confirmed.
    CaptureReplayer::Options options() const { return m_options; }

public slots:
    void accept() override;

private:
    void browse();

    QList<InterfaceEntry> m_networks;
    QLineEdit *m_file = nullptr;
    QLineEdit *m_universes = nullptr;
    QListWidget *m_networkList = nullptr;
    QCheckBox *m_loop = nullptr;
    QLabel *m_error = nullptr;
    CaptureReplayer::Options m_options;
};

#endif // REPLAYDIALOG_H
