#ifndef PHONESERVER_H
#define PHONESERVER_H

#include "phonefeed.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <memory>
#include <vector>

class PhoneConnectionGuard;
class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponse;
class QWebSocket;

// The phone view's web server: the page (compiled in under ":/web") and its push connection
// /live, on one address and port of this computer, for anyone who shows the token, which is
// new at every start and never stored. Read only: a page chooses what it receives and
// changes nothing in the program.
//
// One timer pushes to every page, every TickMs: the levels of the universe each page follows
// (all of them after a follow and every FullLevelsEveryMs, else the channels that changed),
// the universes and time code about once a second when they changed. Each message is made
// once per universe and push, whatever the number of pages following it. A page that falls
// MaxQueuedBytes behind, or does not answer pings for DeadAfterMs, is dropped.
class PhoneServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int TickMs = 100;
    static constexpr int RateHz = 1000 / TickMs;
    static constexpr int CensusEveryTicks = 10;
    static constexpr int PingEveryTicks = 50;
    static constexpr qint64 DeadAfterMs = 15000;
    static constexpr qint64 FullLevelsEveryMs = 5000;
    static constexpr qint64 MaxQueuedBytes = 1 << 20;
    static constexpr int MaxIncomingMessageBytes = 1024;
    static constexpr int EventsOnConnect = 50;

    // The feed must outlive the server.
    explicit PhoneServer(PhoneFeed *feed, QObject *parent = nullptr);
    ~PhoneServer() override;

    // Listens on this address alone (any-address is refused); port 0 lets the system choose.
    // A running server stops first. False, with errorString() saying why, when it cannot.
    bool start(const QHostAddress &address, quint16 port);
    // Closes every connection and the listening socket; the token is forgotten.
    void stop();
    bool running() const { return bool(m_guard); }
    QString errorString() const { return m_error; }
    QByteArray token() const { return m_token; }
    quint16 port() const { return m_port; }
    // "http://ADDRESS:PORT/?t=TOKEN"; empty while stopped.
    QString url() const;
    // The pages connected for pushes.
    int clientCount() const { return int(m_clients.size()); }

    // The alarms not yet acknowledged, from the window's event log side. (The events come from
    // the feed: the last EventsOnConnect go to a page when it connects, new ones as they come.)
    void setAlarms(const QList<PhoneAlarm> &alarms);

signals:
    void runningChanged(bool running);
    void clientCountChanged(int count);

private:
    struct Client;
    struct Followed
    {
        UniverseKey universe;
        bool known = false;
        std::array<uchar, 512> levels = {};
    };

    void addRoutes(QHttpServer *http);
    QHttpServerResponse page(const QHttpServerRequest &request, const QString &file,
                             const QByteArray &type) const;
    bool tokenShown(const QUrl &url) const;
    void takeWebSockets();
    void welcome(Client &client);
    void readMessage(QWebSocket *socket, const QString &text);
    void removeClosed();
    void updateFollowed();
    void push();
    void pushLevels(qint64 nowMs);
    void pushCensus();
    void addEvents(const QList<PhoneEvent> &events);
    void sendToAll(const QString &message);
    static void send(Client &client, const QString &message);

    PhoneFeed *m_feed;
    std::unique_ptr<QHttpServer> m_http;
    PhoneConnectionGuard *m_guard = nullptr; // the HTTP server's
    QByteArray m_token;
    QHostAddress m_address;
    quint16 m_port = 0;
    QString m_error;
    std::vector<std::unique_ptr<Client>> m_clients;
    std::vector<Followed> m_followed;
    QTimer m_tick;
    int m_ticks = 0;
    QElapsedTimer m_clock;
    QString m_universesMessage;
    QString m_timeCodeMessage;
    QString m_alarmsMessage;
    QList<PhoneEvent> m_lastEvents;
    std::array<uchar, 512> m_levels = {};
    QByteArray m_levelsText;
};

#endif // PHONESERVER_H
