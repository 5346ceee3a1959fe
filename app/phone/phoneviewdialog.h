#ifndef PHONEVIEWDIALOG_H
#define PHONEVIEWDIALOG_H

#include <QDialog>
#include <QHostAddress>
#include <QList>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QWidget;

// Where the phone view serves and how a phone reaches it: the network (one of this machine's
// IPv4 addresses) and the port, Start and Stop, and while it runs the address with its token,
// a QR code of it, the token alone and how many phones are connected.
class PhoneViewDialog : public QDialog
{
    Q_OBJECT

public:
    // One address of this machine, with the network it belongs to for the user to recognise.
    struct Network
    {
        QHostAddress address;
        QString text;
    };

    explicit PhoneViewDialog(QWidget *parent = nullptr);

    // `chosen` is selected when it is among them, else the first.
    void setNetworks(const QList<Network> &networks, const QHostAddress &chosen);
    QHostAddress address() const;
    void setPort(quint16 port);
    quint16 port() const;
    void setStartWithProgram(bool on);
    bool startWithProgram() const;

    void showRunning(const QString &url, const QString &token, int phones);
    void showPhones(int phones);
    // Stopped, with the reason when it did not start or ended by itself.
    void showStopped(const QString &reason);

    QLabel *qrLabel() const { return m_qr; }

signals:
    void startRequested();
    void stopRequested();
    void startWithProgramChanged(bool on);

private:
    QWidget *createRunningPart();
    static QLabel *selectableLabel(const QString &objectName);

    QComboBox *m_network = nullptr;
    QSpinBox *m_port = nullptr;
    QPushButton *m_start = nullptr;
    QPushButton *m_stop = nullptr;
    QCheckBox *m_startWithProgram = nullptr;
    QWidget *m_running = nullptr;
    QLabel *m_url = nullptr;
    QLabel *m_qr = nullptr;
    QLabel *m_token = nullptr;
    QLabel *m_phones = nullptr;
    QLabel *m_message = nullptr;
};

#endif // PHONEVIEWDIALOG_H
