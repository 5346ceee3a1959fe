#include "phoneflood.h"

#include "privatenetwork.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace PhoneFlood {

namespace {

constexpr const char *Flag = "--phone-flood";
constexpr int ConnectTimeoutMs = 200;
constexpr int MaxInFlight = 64;

// A blocking connection to the listener, bounded in time, from the source address if given.
int connectFrom(const QByteArray &source, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const timeval timeout = {0, ConnectTimeoutMs * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    if (!source.isEmpty()) {
        inet_pton(AF_INET, source.constData(), &address.sin_addr);
        if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            ::close(fd);
            return -1;
        }
    }
    address.sin_port = htons(port);
    inet_pton(AF_INET, PrivateNetwork::LocalAddress, &address.sin_addr);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int startConnecting(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, PrivateNetwork::LocalAddress, &address.sin_addr);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void closeWithReset(int fd)
{
    const linger reset = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(fd);
}

void sendSome(int fd, const QByteArray &bytes)
{
    ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// What malformed requests look like, in turn: none of them ever completes a valid head.
std::vector<QByteArray> malformedRequests()
{
    QByteArray garbage(1024, '\0');
    for (int index = 0; index < garbage.size(); ++index)
        garbage[index] = char((index * 131 + 7) & 0xff);
    return {garbage,
            "GET /?t=guess HTTP/1.1\r\nX-Long: " + QByteArray(64 * 1024, 'a'),
            "GET / HTTP/1.1\r" + QByteArray(4096, '\r'),
            "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n",
            "GET\r\n\r\n",
            QByteArray(8000, '\n')};
}

// Connections in flight at once, each closed as soon as it is open: the listener's backlog, not
// the round trip of one connection, sets the pace.
int openAndDrop(Kind kind, quint16 port, int count, qint64 endMs)
{
    QElapsedTimer clock;
    clock.start();
    const std::vector<QByteArray> requests = malformedRequests();
    std::vector<pollfd> inFlight;
    std::vector<qint64> startedMs;
    int started = 0;
    int opened = 0;
    while ((started < count || !inFlight.empty()) && clock.elapsed() < endMs) {
        while (started < count && int(inFlight.size()) < MaxInFlight) {
            const int fd = startConnecting(port);
            if (fd < 0)
                break;
            ++started;
            inFlight.push_back(pollfd{fd, POLLOUT, 0});
            startedMs.push_back(clock.elapsed());
        }
        ::poll(inFlight.data(), nfds_t(inFlight.size()), 10);
        for (size_t index = inFlight.size(); index-- > 0;) {
            const pollfd done = inFlight[index];
            const bool late = clock.elapsed() - startedMs[index] > ConnectTimeoutMs;
            if (!done.revents && !late)
                continue;
            inFlight[index] = inFlight.back();
            inFlight.pop_back();
            startedMs[index] = startedMs.back();
            startedMs.pop_back();
            int error = ETIMEDOUT;
            socklen_t length = sizeof error;
            if (done.revents)
                getsockopt(done.fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error == 0) {
                if (kind == Kind::MalformedHttp)
                    sendSome(done.fd, requests[size_t(opened) % requests.size()]);
                ++opened;
            }
            if (error == 0 && opened % 2)
                closeWithReset(done.fd);
            else
                ::close(done.fd);
        }
    }
    for (const pollfd &waiting : inFlight)
        ::close(waiting.fd);
    return opened;
}

int flood(Kind kind, quint16 port, int count, int seconds, const QList<QByteArray> &sources)
{
    QElapsedTimer clock;
    clock.start();
    const qint64 endMs = qint64(seconds) * 1000;
    int opened = 0;
    if (kind == Kind::SlowRequests) {
        std::vector<int> held;
        for (int index = 0; index < count; ++index) {
            // A SYN the listener's full backlog dropped is tried again, as a browser would.
            int fd = -1;
            for (int attempt = 0; fd < 0 && attempt < 5; ++attempt)
                fd = connectFrom(sources.value(index % qMax(1, int(sources.size()))), port);
            if (fd >= 0)
                held.push_back(fd);
        }
        opened = int(held.size());
        const QByteArray request = "GET /?t=slow HTTP/1.1\r\n";
        for (int second = 0; qint64(second) * 1000 < endMs; ++second) {
            for (const int fd : held)
                sendSome(fd, request.mid(second % request.size(), 1));
            const qint64 untilMs = qMin(endMs, qint64(second + 1) * 1000);
            while (clock.elapsed() < untilMs)
                usleep(10 * 1000);
        }
        for (const int fd : held)
            ::close(fd);
    } else {
        opened = openAndDrop(kind, port, count, endMs);
    }
    std::printf("opened %d\n", opened);
    std::fflush(stdout);
    return 0;
}

// The flood sends only from the peer namespace that netns-run made.
bool inPeerNamespace()
{
    char own[64] = {};
    char peer[64] = {};
    const QByteArray peerPath = qgetenv("VARDOLUX_PEER_NETNS");
    return qgetenv("VARDOLUX_PRIVATE_NETWORK") == "1" && !peerPath.isEmpty()
           && readlink("/proc/self/ns/net", own, sizeof own - 1) > 0
           && readlink(peerPath.constData(), peer, sizeof peer - 1) > 0
           && std::strcmp(own, peer) == 0 && qgetenv("VARDOLUX_OUTER_NETNS") != QByteArray(own);
}

} // namespace

QStringList command(const QString &program, Kind kind, quint16 port, int count, int seconds,
                    const QStringList &sources)
{
    return QStringList{QStringLiteral("--net=") + qEnvironmentVariable("VARDOLUX_PEER_NETNS"),
                       program, QString::fromLatin1(Flag), QString::number(int(kind)),
                       QString::number(port), QString::number(count), QString::number(seconds)}
            + sources;
}

int runIfAsked(int argc, char **argv)
{
    if (argc < 6 || std::strcmp(argv[1], Flag) != 0)
        return -1;
    if (!inPeerNamespace()) {
        std::fprintf(stderr, "phone flood: refusing to run outside the peer namespace\n");
        return 2;
    }
    const int kind = QByteArray(argv[2]).toInt();
    if (kind < int(Kind::Connections) || kind > int(Kind::SlowRequests))
        return 2;
    QList<QByteArray> sources;
    for (int index = 6; index < argc; ++index)
        sources << QByteArray(argv[index]);
    // Bounded whatever is asked: the floods are tests' and benchmarks', never a tool.
    return flood(Kind(kind), quint16(QByteArray(argv[3]).toUInt()),
                 qBound(0, QByteArray(argv[4]).toInt(), 20000),
                 qBound(1, QByteArray(argv[5]).toInt(), 10), sources);
}

} // namespace PhoneFlood
