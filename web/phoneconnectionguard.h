#ifndef PHONECONNECTIONGUARD_H
#define PHONECONNECTIONGUARD_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>

#include <vector>

class QTcpSocket;

// The phone view's listening socket, standing in front of the HTTP server: each connection's
// request is read here (peeked, so that the server still reads it whole) before the server
// sees a byte of it, and a request without the right token, any method but GET, a body, or an
// upgrade to any path but /live is answered 403 and closed; the HTTP server would otherwise
// upgrade any request that asks for a WebSocket.
//
// It also bounds what a phone, or anything else on the show network, can cost: at most
// MaxPages pages following live (the WebSockets; one more is answered 503), MaxConnections
// connections in all, of which a browser's idle keep-alive ones make room for a new one,
// MaxWaitingPerAddress of one address before its first complete request, request heads of MaxRequestBytes, RequestTimeoutMs from a request's first byte to
// its end, IdleTimeoutMs between requests. An address that shows StrikesToBlock wrong tokens
// within StrikeWindowMs has its new connections closed at once, for a time that doubles with
// every block (up to MaxBlockMs); MaxTrackedAddresses addresses are remembered, the one seen
// least recently is forgotten for a new one.
class PhoneConnectionGuard : public QTcpServer
{
    Q_OBJECT

public:
    static constexpr int MaxPages = 16;
    // A browser keeps a few connections besides its page's WebSocket: 16 phones each loading
    // the page at once must not shut each other out.
    static constexpr int MaxConnections = 64;
    // Chromium and Firefox open at most six connections to one host.
    static constexpr int MaxWaitingPerAddress = 6;
    static constexpr int MaxRequestBytes = 8192;
    static constexpr int RequestTimeoutMs = 5000;
    static constexpr int IdleTimeoutMs = 30000;
    static constexpr int StrikesToBlock = 3;
    static constexpr int StrikeWindowMs = 10000;
    static constexpr int FirstBlockMs = 2000;
    static constexpr int MaxBlockMs = 60000;
    static constexpr int MaxTrackedAddresses = 256;

    PhoneConnectionGuard(const QByteArray &token, QObject *parent = nullptr);
    ~PhoneConnectionGuard() override;
    // The HTTP server that reads the connections let through: a refused request is taken from it.
    void setHttpServer(QObject *server) { m_httpServer = server; }
    // Every open connection, the WebSockets' among them.
    int connectionCount();
    void closeAll();
    // The headers of every answer, and a whole answer without a body that closes the connection.
    static QList<std::pair<QByteArray, QByteArray>> securityHeaders();
    static QByteArray bareAnswer(const char *status);

protected:
    void incomingConnection(qintptr handle) override;

private:
    enum class State { Request, Answered, Upgraded, Closing };
    struct Connection
    {
        QPointer<QTcpSocket> socket;
        QHostAddress peer;
        QByteArray head;
        State state = State::Request;
        qint64 firstByteMs = -1;
        qint64 lastActivityMs = 0;
    };
    struct Strikes
    {
        QHostAddress address;
        qint64 windowStartMs = 0;
        qint64 lastMs = 0;
        qint64 blockedUntilMs = 0;
        int count = 0;
        int blocks = 0;
    };
    enum class Verdict { Incomplete, Pass, Upgrade, Forbidden, WrongToken, Full, Abort };

    void readRequest();
    Verdict judge(Connection &connection);
    Verdict judgeHead(const QByteArray &head, qsizetype end) const;
    void refuse(Connection &connection, const char *status);
    bool makeRoom();
    int pageCount() const;
    void sweep();
    void prune();
    Connection *find(const QObject *socket);
    bool blocked(const QHostAddress &address, qint64 nowMs) const;
    void strike(const QHostAddress &address, qint64 nowMs);
    int waitingFrom(const QHostAddress &address) const;

    QByteArray m_token;
    QObject *m_httpServer = nullptr;
    std::vector<Connection> m_connections;
    std::vector<Strikes> m_strikes;
    QTimer m_sweep;
    QElapsedTimer m_clock;
};

#endif // PHONECONNECTIONGUARD_H
