#ifndef NETWORKCHANGEWATCHER_H
#define NETWORKCHANGEWATCHER_H

#include <QObject>

class QSocketNotifier;

// Tells when the system's network interfaces or their addresses change: a cable plugged in, an
// address arriving late from DHCP. On Linux it listens on a NETLINK_ROUTE socket subscribed to
// link and IPv4 address changes; elsewhere it never signals.
class NetworkChangeWatcher : public QObject
{
    Q_OBJECT

public:
    explicit NetworkChangeWatcher(QObject *parent = nullptr);
    ~NetworkChangeWatcher() override;

    bool isWatching() const { return m_descriptor >= 0; }

signals:
    // Once for every batch of kernel messages read together.
    void changed();

private:
    void readMessages();

    int m_descriptor = -1;
    QSocketNotifier *m_notifier = nullptr;
    char m_buffer[8192];
};

#endif // NETWORKCHANGEWATCHER_H
