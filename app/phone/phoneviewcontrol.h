#ifndef PHONEVIEWCONTROL_H
#define PHONEVIEWCONTROL_H

#include "phoneviewdialog.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class CaptureSession;
class NetworkChangeWatcher;
class PhoneServer;
class SessionPhoneFeed;
class QAction;
class QMainWindow;
class QMenu;
class QPushButton;

// The phone view: a read-only live view of what the program sees, served to phones' browsers on
// one address of this machine. Its command (a toggle, checked while it serves), the Phone menu
// (before the one given, Help), the same entries for the context menu, the status-bar button
// that counts the phones and opens the dialog, and the settings under phoneView/. It owns the
// server and stops it when turned off, when its address leaves the machine and on quit.
class PhoneViewControl : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 DefaultPort = 8080;

    PhoneViewControl(QMainWindow *window, CaptureSession *session, QMenu *menuAfter);
    ~PhoneViewControl() override;

    QMenu *menu() const { return m_menu; }
    void addMenuEntries(QMenu *menu) const;
    QAction *toggleAction() const { return m_toggleAction; }
    QPushButton *statusButton() const { return m_statusButton; }
    PhoneServer *server() const { return m_server; }
    // Null until the command first opens it.
    PhoneViewDialog *dialog() const { return m_dialog; }

    // This machine's IPv4 addresses that discovery would use; loopback alone when there is none.
    static QList<PhoneViewDialog::Network> networks();

    // Serves at once, without the dialog, when the user chose to start with the program and the
    // remembered address is still one of this machine's.
    void startAtLaunch();

public slots:
    // Serves on the address; false when it cannot, which the dialog and status bar then say.
    bool startOn(const QHostAddress &address, quint16 port);
    // Stops serving; the reason, when there is one, goes to the status bar and the dialog.
    void stop(const QString &reason = QString());
    void openDialog();

signals:
    // When the server starts listening without the session's engines: they are needed.
    void sessionNeeded();

private:
    void createActions();
    void createMenu(QMenu *menuAfter);
    void createStatusButton();
    void toggled(bool on);
    void startFromDialog();
    void refresh();
    void checkAddressStillHere();
    void setChecked(bool on);

    QMainWindow *m_window;
    // The server reads the feed: it goes after the server.
    std::unique_ptr<SessionPhoneFeed> m_feed;
    PhoneServer *m_server = nullptr;
    QPointer<PhoneViewDialog> m_dialog;
    QMenu *m_menu = nullptr;
    QAction *m_toggleAction = nullptr;
    QAction *m_dialogAction = nullptr;
    QPushButton *m_statusButton = nullptr;
    NetworkChangeWatcher *m_networkWatcher = nullptr;
    QHostAddress m_address;
};

#endif // PHONEVIEWCONTROL_H
