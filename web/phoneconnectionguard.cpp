#include "phoneconnectionguard.h"

#include "phonetoken.h"

#include <QTcpSocket>
#include <QUrlQuery>

#include <algorithm>

namespace {

constexpr int SweepMs = 250;

// The end of the request head: after its first empty line, whether lines end in CRLF or in LF
// alone (which HTTP parsers accept too); -1 while it has not arrived.
qsizetype headEnd(const QByteArray &head)
{
    qsizetype lineStart = 0;
    for (qsizetype index = 0; index < head.size(); ++index) {
        if (head[index] != '\n')
            continue;
        const qsizetype length = index - lineStart;
        if (length == 0 || (length == 1 && head[lineStart] == '\r'))
            return index + 1;
        lineStart = index + 1;
    }
    return -1;
}

} // namespace

PhoneConnectionGuard::PhoneConnectionGuard(const QByteArray &token, QObject *parent)
    : QTcpServer(parent), m_token(token)
{
    m_clock.start();
    m_connections.reserve(MaxConnections);
    connect(&m_sweep, &QTimer::timeout, this, &PhoneConnectionGuard::sweep);
    m_sweep.start(SweepMs);
}

PhoneConnectionGuard::~PhoneConnectionGuard()
{
    closeAll();
}

QList<std::pair<QByteArray, QByteArray>> PhoneConnectionGuard::securityHeaders()
{
    return {{"Content-Security-Policy",
             "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
             "img-src 'self' data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
            {"X-Content-Type-Options", "nosniff"},
            {"Referrer-Policy", "no-referrer"},
            {"Cache-Control", "no-store"}};
}

QByteArray PhoneConnectionGuard::bareAnswer(const char *status)
{
    QByteArray answer = QByteArray("HTTP/1.1 ") + status + "\r\n";
    for (const auto &header : securityHeaders())
        answer += header.first + ": " + header.second + "\r\n";
    return answer + "Content-Length: 0\r\nConnection: close\r\n\r\n";
}

int PhoneConnectionGuard::connectionCount()
{
    prune();
    return int(m_connections.size());
}

void PhoneConnectionGuard::closeAll()
{
    for (Connection &connection : m_connections) {
        if (connection.socket)
            connection.socket->abort();
    }
    m_connections.clear();
}

void PhoneConnectionGuard::incomingConnection(qintptr handle)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    prune();
    const qint64 nowMs = m_clock.elapsed();
    const QHostAddress peer = socket->peerAddress();
    if (blocked(peer, nowMs) || waitingFrom(peer) >= MaxWaitingPerAddress
        || (int(m_connections.size()) >= MaxConnections && !makeRoom())) {
        socket->abort();
        delete socket;
        return;
    }
    // Before the HTTP server's own: this one sees every request first.
    connect(socket, &QTcpSocket::readyRead, this, &PhoneConnectionGuard::readRequest);
    m_connections.push_back(Connection{socket, peer, QByteArray(), State::Request, -1, nowMs});
    addPendingConnection(socket);
}

void PhoneConnectionGuard::readRequest()
{
    Connection *connection = find(sender());
    if (!connection || !connection->socket)
        return;
    QTcpSocket *socket = connection->socket;
    const qint64 nowMs = m_clock.elapsed();
    connection->lastActivityMs = nowMs;
    if (connection->state == State::Upgraded || connection->state == State::Closing)
        return;
    if (connection->state == State::Answered) {
        connection->state = State::Request;
        connection->head.resize(0);
        connection->firstByteMs = -1;
    }
    const qint64 available = socket->bytesAvailable();
    if (available <= 0)
        return;
    if (connection->firstByteMs < 0)
        connection->firstByteMs = nowMs;
    Verdict verdict = Verdict::Abort;
    // What the HTTP server has not read yet: it reads all there is after this slot.
    if (connection->head.size() + available <= MaxRequestBytes) {
        connection->head += socket->peek(available);
        verdict = judge(*connection);
    }
    switch (verdict) {
    case Verdict::Incomplete:
        return;
    case Verdict::Pass:
        connection->state = State::Answered;
        return;
    case Verdict::Upgrade:
        connection->state = State::Upgraded;
        return;
    case Verdict::WrongToken:
        strike(connection->peer, nowMs);
        refuse(*connection, "403 Forbidden");
        return;
    case Verdict::Forbidden:
        refuse(*connection, "403 Forbidden");
        return;
    case Verdict::Full:
        refuse(*connection, "503 Service Unavailable");
        return;
    case Verdict::Abort:
        disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
        socket->abort();
        return;
    }
}

PhoneConnectionGuard::Verdict PhoneConnectionGuard::judge(Connection &connection)
{
    const qsizetype end = headEnd(connection.head);
    if (end < 0)
        return Verdict::Incomplete;
    // No request carries a body, and a second one must wait for the first one's answer.
    if (end != connection.head.size())
        return Verdict::Abort;
    return judgeHead(connection.head, end);
}

PhoneConnectionGuard::Verdict PhoneConnectionGuard::judgeHead(const QByteArray &head,
                                                              qsizetype end) const
{
    const QList<QByteArray> lines = head.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3 || requestLine[0] != "GET" || !requestLine[1].startsWith('/')
        || !requestLine[2].startsWith("HTTP/1."))
        return Verdict::Forbidden;
    const QByteArray &target = requestLine[1];
    const qsizetype question = target.indexOf('?');
    const QByteArray path = target.left(question);
    const QByteArray token = question < 0 ? QByteArray()
            : QUrlQuery(QString::fromLatin1(target.mid(question + 1)))
                      .queryItemValue(QStringLiteral("t"), QUrl::FullyEncoded).toLatin1();
    bool upgrade = false;
    for (qsizetype index = 1; index < lines.size(); ++index) {
        const QByteArray &line = lines[index];
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "upgrade")
            upgrade = true;
        else if (name == "transfer-encoding" || (name == "content-length" && value != "0"))
            return Verdict::Forbidden;
    }
    if (!PhoneToken::constantTimeEquals(token, m_token))
        return Verdict::WrongToken;
    if (upgrade && path != "/live")
        return Verdict::Forbidden;
    if (upgrade)
        return pageCount() < MaxPages ? Verdict::Upgrade : Verdict::Full;
    return Verdict::Pass;
}

void PhoneConnectionGuard::refuse(Connection &connection, const char *status)
{
    QTcpSocket *socket = connection.socket;
    // The HTTP server must not read a byte of it.
    disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    socket->readAll();
    socket->write(bareAnswer(status));
    socket->disconnectFromHost();
    connection.state = State::Closing;
}

void PhoneConnectionGuard::sweep()
{
    prune();
    const qint64 nowMs = m_clock.elapsed();
    for (Connection &connection : m_connections) {
        const qint64 idleMs = nowMs - connection.lastActivityMs;
        bool late = false;
        switch (connection.state) {
        case State::Request:
            late = connection.firstByteMs >= 0 ? nowMs - connection.firstByteMs > RequestTimeoutMs
                                               : idleMs > IdleTimeoutMs;
            break;
        case State::Answered:
            late = idleMs > IdleTimeoutMs;
            break;
        case State::Closing:
            late = idleMs > RequestTimeoutMs;
            break;
        case State::Upgraded:
            break;
        }
        if (late) {
            disconnect(connection.socket, &QTcpSocket::readyRead, nullptr, nullptr);
            connection.socket->abort();
        }
    }
    prune();
}

void PhoneConnectionGuard::prune()
{
    m_connections.erase(std::remove_if(m_connections.begin(), m_connections.end(),
                                       [](const Connection &connection) {
                                           return !connection.socket
                                                  || connection.socket->state()
                                                             == QAbstractSocket::UnconnectedState;
                                       }),
                        m_connections.end());
}

PhoneConnectionGuard::Connection *PhoneConnectionGuard::find(const QObject *socket)
{
    for (Connection &connection : m_connections) {
        if (connection.socket == socket)
            return &connection;
    }
    return nullptr;
}

bool PhoneConnectionGuard::blocked(const QHostAddress &address, qint64 nowMs) const
{
    return std::any_of(m_strikes.begin(), m_strikes.end(), [&](const Strikes &strikes) {
        return strikes.address == address && strikes.blockedUntilMs > nowMs;
    });
}

void PhoneConnectionGuard::strike(const QHostAddress &address, qint64 nowMs)
{
    auto found = std::find_if(m_strikes.begin(), m_strikes.end(),
                              [&](const Strikes &strikes) { return strikes.address == address; });
    if (found == m_strikes.end()) {
        if (int(m_strikes.size()) < MaxTrackedAddresses) {
            m_strikes.push_back(Strikes());
            found = m_strikes.end() - 1;
        } else {
            found = std::min_element(m_strikes.begin(), m_strikes.end(),
                                     [](const Strikes &a, const Strikes &b) {
                                         return a.lastMs < b.lastMs;
                                     });
            *found = Strikes();
        }
        found->address = address;
        found->windowStartMs = nowMs;
    }
    Strikes &strikes = *found;
    strikes.lastMs = nowMs;
    if (nowMs - strikes.windowStartMs > StrikeWindowMs) {
        strikes.windowStartMs = nowMs;
        strikes.count = 0;
    }
    if (++strikes.count < StrikesToBlock)
        return;
    const qint64 blockMs = std::min<qint64>(qint64(FirstBlockMs) << std::min(strikes.blocks, 8),
                                            MaxBlockMs);
    ++strikes.blocks;
    strikes.blockedUntilMs = nowMs + blockMs;
    strikes.count = 0;
    strikes.windowStartMs = nowMs;
}

int PhoneConnectionGuard::waitingFrom(const QHostAddress &address) const
{
    return int(std::count_if(m_connections.begin(), m_connections.end(),
                             [&](const Connection &connection) {
                                 return connection.state == State::Request
                                        && connection.peer == address;
                             }));
}

// Closes the connection that has waited longest for a browser's next request after an answer,
// if there is one.
bool PhoneConnectionGuard::makeRoom()
{
    auto idlest = m_connections.end();
    for (auto connection = m_connections.begin(); connection != m_connections.end(); ++connection) {
        if (connection->state == State::Answered && connection->socket
            && (idlest == m_connections.end()
                || connection->lastActivityMs < idlest->lastActivityMs))
            idlest = connection;
    }
    if (idlest == m_connections.end())
        return false;
    disconnect(idlest->socket, &QTcpSocket::readyRead, nullptr, nullptr);
    idlest->socket->abort();
    prune();
    return true;
}

int PhoneConnectionGuard::pageCount() const
{
    return int(std::count_if(m_connections.begin(), m_connections.end(),
                             [](const Connection &connection) {
                                 return connection.state == State::Upgraded && connection.socket
                                        && connection.socket->state()
                                                   != QAbstractSocket::UnconnectedState;
                             }));
}
