#include "phoneserver.h"

#include "phoneconnectionguard.h"
#include "phonemessages.h"
#include "phonetoken.h"

#include <QCoreApplication>
#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QUrlQuery>
#include <QWebSocket>

#include <algorithm>

struct PhoneServer::Client
{
    std::unique_ptr<QWebSocket> socket;
    UniverseKey universe;
    bool following = false;
    bool fullDue = true;
    qint64 nextFullMs = 0;
    qint64 lastPongMs = 0;
    bool dropped = false;
};

PhoneServer::PhoneServer(PhoneFeed *feed, QObject *parent) : QObject(parent), m_feed(feed)
{
    m_tick.setInterval(TickMs);
    m_tick.setTimerType(Qt::PreciseTimer);
    connect(&m_tick, &QTimer::timeout, this, &PhoneServer::push);
    m_clock.start();
}

PhoneServer::~PhoneServer()
{
    stop();
}

bool PhoneServer::start(const QHostAddress &address, quint16 port)
{
    stop();
    if (address.isNull() || address == QHostAddress::Any || address == QHostAddress::AnyIPv4
        || address == QHostAddress::AnyIPv6) {
        m_error = tr("Choose one address of this computer.");
        return false;
    }
    m_token = PhoneToken::generate();
    auto http = std::make_unique<QHttpServer>();
    auto *guard = new PhoneConnectionGuard(m_token);
    if (!guard->listen(address, port)) {
        m_error = guard->errorString();
        delete guard;
        m_token.clear();
        return false;
    }
    guard->setHttpServer(http.get());
    addRoutes(http.get());
    connect(http.get(), &QAbstractHttpServer::newWebSocketConnection, this,
            &PhoneServer::takeWebSockets);
    http->bind(guard);
    m_http = std::move(http);
    m_guard = guard;
    m_address = address;
    m_port = guard->serverPort();
    m_error.clear();
    m_feed->setListening(true);
    addEvents(m_feed->newEvents(EventsOnConnect));
    pushCensus();
    m_ticks = 0;
    m_tick.start();
    emit runningChanged(true);
    return true;
}

void PhoneServer::stop()
{
    if (!m_guard)
        return;
    m_tick.stop();
    const bool hadClients = !m_clients.empty();
    for (auto &client : m_clients)
        client->socket->abort();
    m_clients.clear();
    m_guard->closeAll();
    m_guard->close();
    m_guard = nullptr;
    m_http.reset();
    m_followed.clear();
    m_feed->setFollowed({});
    m_feed->setListening(false);
    m_token.clear();
    m_port = 0;
    m_universesMessage.clear();
    m_timeCodeMessage.clear();
    m_lastEvents.clear();
    if (hadClients)
        emit clientCountChanged(0);
    emit runningChanged(false);
}

QString PhoneServer::url() const
{
    if (!m_guard)
        return QString();
    const QString host = m_address.protocol() == QAbstractSocket::IPv6Protocol
            ? QLatin1Char('[') + m_address.toString() + QLatin1Char(']')
            : m_address.toString();
    return QStringLiteral("http://%1:%2/?t=%3").arg(host).arg(m_port).arg(QString::fromLatin1(m_token));
}

void PhoneServer::addRoutes(QHttpServer *http)
{
    const auto get = QHttpServerRequest::Method::Get;
    http->route("/", get, [this](const QHttpServerRequest &request) {
        return page(request, QStringLiteral(":/web/index.html"), "text/html; charset=utf-8");
    });
    http->route("/phone.js", get, [this](const QHttpServerRequest &request) {
        return page(request, QStringLiteral(":/web/phone.js"), "text/javascript");
    });
    http->route("/phone.css", get, [this](const QHttpServerRequest &request) {
        return page(request, QStringLiteral(":/web/phone.css"), "text/css");
    });
    // The HTTP server hands a connection to its WebSocket server only after a route took the
    // request; the answer is the WebSocket handshake's, so nothing is written here.
    http->route("/live", get, [](const QHttpServerRequest &, QHttpServerResponder &&) {});
    http->setMissingHandler([this](const QHttpServerRequest &request,
                                   QHttpServerResponder &&responder) {
        // The guard let through the right token only; it is checked again all the same.
        QHttpServerResponse response(tokenShown(request.url())
                                             ? QHttpServerResponder::StatusCode::NotFound
                                             : QHttpServerResponder::StatusCode::Forbidden);
        for (const auto &header : PhoneConnectionGuard::securityHeaders())
            response.setHeader(header.first, header.second);
        response.write(std::move(responder));
    });
}

QHttpServerResponse PhoneServer::page(const QHttpServerRequest &request, const QString &file,
                                      const QByteArray &type) const
{
    QByteArray body;
    QFile resource(file);
    const bool allowed = tokenShown(request.url());
    if (allowed && resource.open(QIODevice::ReadOnly))
        body = resource.readAll();
    // The page's own links carry the token, so that it never has to be typed or stored.
    body.replace("{{token}}", m_token);
    QHttpServerResponse response(type, body,
                                 allowed ? QHttpServerResponder::StatusCode::Ok
                                         : QHttpServerResponder::StatusCode::Forbidden);
    for (const auto &header : PhoneConnectionGuard::securityHeaders())
        response.setHeader(header.first, header.second);
    return response;
}

bool PhoneServer::tokenShown(const QUrl &url) const
{
    const QByteArray shown =
            QUrlQuery(url).queryItemValue(QStringLiteral("t"), QUrl::FullyEncoded).toLatin1();
    return !m_token.isEmpty() && PhoneToken::constantTimeEquals(shown, m_token);
}

void PhoneServer::takeWebSockets()
{
    while (m_http && m_http->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = m_http->nextPendingWebSocketConnection();
        if (!socket)
            break;
        if (socket->requestUrl().path() != QStringLiteral("/live")
            || !tokenShown(socket->requestUrl())) {
            socket->abort();
            continue;
        }
        socket->setMaxAllowedIncomingMessageSize(MaxIncomingMessageBytes);
        socket->setMaxAllowedIncomingFrameSize(MaxIncomingMessageBytes);
        QWebSocket *raw = socket.get();
        connect(raw, &QWebSocket::textMessageReceived, this,
                [this, raw](const QString &text) { readMessage(raw, text); });
        connect(raw, &QWebSocket::pong, this, [this, raw](quint64, const QByteArray &) {
            for (auto &client : m_clients) {
                if (client->socket.get() == raw)
                    client->lastPongMs = m_clock.elapsed();
            }
        });
        // Queued: a socket is not deleted inside its own signal.
        connect(raw, &QWebSocket::disconnected, this, &PhoneServer::removeClosed,
                Qt::QueuedConnection);
        auto client = std::make_unique<Client>();
        client->socket = std::move(socket);
        client->lastPongMs = m_clock.elapsed();
        m_clients.push_back(std::move(client));
        welcome(*m_clients.back());
        emit clientCountChanged(clientCount());
    }
}

void PhoneServer::welcome(Client &client)
{
    send(client, QString::fromUtf8(PhoneMessages::hello(QCoreApplication::applicationVersion(),
                                                        RateHz)));
    send(client, m_universesMessage);
    if (!m_timeCodeMessage.isEmpty())
        send(client, m_timeCodeMessage);
    if (!m_lastEvents.isEmpty())
        send(client, QString::fromUtf8(PhoneMessages::events(m_lastEvents)));
    if (!m_alarmsMessage.isEmpty())
        send(client, m_alarmsMessage);
}

void PhoneServer::readMessage(QWebSocket *socket, const QString &text)
{
    UniverseKey universe;
    if (!PhoneMessages::readFollow(text.toUtf8(), &universe))
        return;
    for (auto &client : m_clients) {
        if (client->socket.get() != socket)
            continue;
        client->universe = universe;
        client->following = true;
        client->fullDue = true;
    }
    updateFollowed();
}

void PhoneServer::removeClosed()
{
    // A partition, not remove_if: the closed clients must still be there to be let go of.
    const auto closed = std::stable_partition(m_clients.begin(), m_clients.end(),
                                              [](const auto &client) {
        return !client->dropped && client->socket->state() != QAbstractSocket::UnconnectedState;
    });
    if (closed == m_clients.end())
        return;
    for (auto it = closed; it != m_clients.end(); ++it) {
        (*it)->socket->disconnect(this);
        (*it)->socket->abort();
        (*it)->socket.release()->deleteLater();
    }
    m_clients.erase(closed, m_clients.end());
    updateFollowed();
    emit clientCountChanged(clientCount());
}

void PhoneServer::updateFollowed()
{
    std::vector<Followed> followed;
    QList<UniverseKey> universes;
    for (const auto &client : m_clients) {
        if (!client->following || universes.contains(client->universe))
            continue;
        universes << client->universe;
        const auto kept = std::find_if(m_followed.begin(), m_followed.end(),
                                       [&](const Followed &entry) {
                                           return entry.universe == client->universe;
                                       });
        followed.push_back(kept != m_followed.end() ? *kept : Followed{client->universe});
    }
    if (universes.size() == int(m_followed.size())
        && std::equal(m_followed.begin(), m_followed.end(), universes.begin(),
                      [](const Followed &entry, const UniverseKey &universe) {
                          return entry.universe == universe;
                      }))
        return;
    m_followed = std::move(followed);
    m_feed->setFollowed(universes);
}

void PhoneServer::push()
{
    const qint64 nowMs = m_clock.elapsed();
    ++m_ticks;
    bool dropped = false;
    for (auto &client : m_clients) {
        // A phone that went away without a word, or cannot keep up, is let go.
        client->dropped = client->socket->bytesToWrite() > MaxQueuedBytes
                || nowMs - client->lastPongMs > DeadAfterMs;
        dropped = dropped || client->dropped;
        if (!client->dropped && m_ticks % PingEveryTicks == 0)
            client->socket->ping();
    }
    if (dropped)
        removeClosed();
    pushLevels(nowMs);
    addEvents(m_feed->newEvents(EventsOnConnect));
    if (m_ticks % CensusEveryTicks == 0)
        pushCensus();
}

void PhoneServer::pushLevels(qint64 nowMs)
{
    for (Followed &followed : m_followed) {
        quint16 length = quint16(m_levels.size());
        if (!m_feed->readLevels(followed.universe, m_levels.data(), &length))
            continue;
        std::fill(m_levels.begin() + length, m_levels.end(), uchar(0));
        QString changes;
        if (followed.known
            && PhoneMessages::changedLevels(followed.universe, followed.levels.data(),
                                            m_levels.data(), &m_levelsText))
            changes = QString::fromLatin1(m_levelsText);
        QString full;
        for (auto &client : m_clients) {
            if (!client->following || client->universe != followed.universe)
                continue;
            if (client->fullDue || nowMs >= client->nextFullMs) {
                if (full.isEmpty()) {
                    PhoneMessages::fullLevels(followed.universe, m_levels.data(), &m_levelsText);
                    full = QString::fromLatin1(m_levelsText);
                }
                send(*client, full);
                client->fullDue = false;
                client->nextFullMs = nowMs + FullLevelsEveryMs;
            } else if (!changes.isEmpty()) {
                send(*client, changes);
            }
        }
        followed.levels = m_levels;
        followed.known = true;
    }
}

void PhoneServer::pushCensus()
{
    const PhoneCensus census = m_feed->census();
    const QString universes = QString::fromUtf8(PhoneMessages::universes(census.universes));
    if (universes != m_universesMessage) {
        m_universesMessage = universes;
        sendToAll(universes);
    }
    const QString timeCode = QString::fromUtf8(PhoneMessages::timeCode(census.timeCode));
    if (timeCode != m_timeCodeMessage && !(m_timeCodeMessage.isEmpty() && census.timeCode.isEmpty())) {
        m_timeCodeMessage = timeCode;
        sendToAll(timeCode);
    }
}

void PhoneServer::addEvents(const QList<PhoneEvent> &events)
{
    if (events.isEmpty())
        return;
    m_lastEvents += events;
    if (m_lastEvents.size() > EventsOnConnect)
        m_lastEvents.remove(0, m_lastEvents.size() - EventsOnConnect);
    sendToAll(QString::fromUtf8(PhoneMessages::events(events)));
}

void PhoneServer::setAlarms(const QList<PhoneAlarm> &alarms)
{
    const QString message = QString::fromUtf8(PhoneMessages::alarms(alarms));
    if (message == m_alarmsMessage)
        return;
    m_alarmsMessage = message;
    sendToAll(message);
}

void PhoneServer::sendToAll(const QString &message)
{
    for (auto &client : m_clients)
        send(*client, message);
}

void PhoneServer::send(Client &client, const QString &message)
{
    if (!client.dropped)
        client.socket->sendTextMessage(message);
}
