#include "privatenetwork.h"

#include <QFile>
#include <QProcess>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace PrivateNetwork {

bool isInside(QString *why)
{
    if (qgetenv("VARDOLUX_PRIVATE_NETWORK") != "1") {
        *why = QStringLiteral("VARDOLUX_PRIVATE_NETWORK is not set");
        return false;
    }
    char own[64] = {};
    if (readlink("/proc/self/ns/net", own, sizeof own - 1) <= 0) {
        *why = QStringLiteral("cannot read this process's network namespace");
        return false;
    }
    // netns-run names the namespace it made and the one it was started from; this process must
    // be in the first and not in the second (an inherited environment proves nothing alone).
    if (qgetenv("VARDOLUX_NETNS") != QByteArray(own)) {
        *why = QStringLiteral("not in the namespace that netns-run made");
        return false;
    }
    if (qgetenv("VARDOLUX_OUTER_NETNS") == QByteArray(own)) {
        *why = QStringLiteral("still in the namespace netns-run was started from");
        return false;
    }
    return true;
}

bool hasPeer()
{
    return !qEnvironmentVariableIsEmpty("VARDOLUX_PEER_NETNS");
}

bool isInsideWithPeer(QString *why)
{
    if (!isInside(why))
        return false;
    if (!hasPeer()) {
        *why = QStringLiteral("no peer namespace (use tests/netns-run --peer)");
        return false;
    }
    return true;
}

int peerUdpSocket(const QString &address, quint16 port, QString *error)
{
    const QByteArray nsPath = qgetenv("VARDOLUX_PEER_NETNS");
    if (nsPath.isEmpty()) {
        *error = QStringLiteral("no peer namespace (register the test with PEER)");
        return -1;
    }
    return udpSocketInNamespace(nsPath, address, port, error);
}

int peerSenderSocket(const QString &address, quint16 port, QString *error)
{
    const int fd = peerUdpSocket(address, port, error);
    if (fd < 0)
        return -1;
    const int flags = fcntl(fd, F_GETFL);
    const int sendBuffer = 4 * 1024 * 1024;
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0
        || setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer) != 0) {
        *error = QStringLiteral("peer sender socket: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        ::close(fd);
        return -1;
    }
    return fd;
}

int udpSocketInNamespace(const QByteArray &nsPath, const QString &address, quint16 port,
                         QString *error)
{
    const QByteArray bindAddress = address.toLatin1();
    int result = -1;
    QString failure;
    // setns() moves only the calling thread, so a short-lived thread creates the socket there;
    // the socket stays in the peer namespace whichever thread uses it later.
    std::thread worker([&] {
        const int nsFd = ::open(nsPath.constData(), O_RDONLY | O_CLOEXEC);
        if (nsFd < 0 || setns(nsFd, CLONE_NEWNET) != 0) {
            failure = QStringLiteral("setns(%1): %2").arg(QString::fromLatin1(nsPath),
                                                          QString::fromLocal8Bit(strerror(errno)));
            if (nsFd >= 0)
                ::close(nsFd);
            return;
        }
        ::close(nsFd);
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in sa = {};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = htonl(INADDR_ANY);
        if (!bindAddress.isEmpty())
            inet_pton(AF_INET, bindAddress.constData(), &sa.sin_addr);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
            failure = QStringLiteral("bind in peer namespace: %1")
                          .arg(QString::fromLocal8Bit(strerror(errno)));
            if (fd >= 0)
                ::close(fd);
            return;
        }
        result = fd;
    });
    worker.join();
    if (result < 0)
        *error = failure;
    return result;
}

static bool runProcess(const QStringList &command, QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first(), command.mid(1));
    const bool finished = process.waitForFinished(10000);
    const QString text = QString::fromLocal8Bit(process.readAll());
    if (output)
        *output = text;
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(command.join(QLatin1Char(' '))), qPrintable(text));
        return false;
    }
    return true;
}

bool run(const QStringList &command, QString *output)
{
    return runProcess(command, output);
}

bool runInPeer(const QStringList &command, QString *output)
{
    const QString nsPath = qEnvironmentVariable("VARDOLUX_PEER_NETNS");
    if (nsPath.isEmpty())
        return false;
    return runProcess(QStringList{QStringLiteral("nsenter"), QStringLiteral("--net=") + nsPath}
                          + command,
                      output);
}

} // namespace PrivateNetwork

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    char name[] = "/tmp/vardolux-stdout-XXXXXX";
    m_captureFd = mkstemp(name);
    if (m_captureFd < 0)
        return;
    unlink(name);
    m_savedStdout = dup(STDOUT_FILENO);
    dup2(m_captureFd, STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture()
{
    std::fflush(stdout);
    if (m_savedStdout >= 0) {
        dup2(m_savedStdout, STDOUT_FILENO);
        ::close(m_savedStdout);
    }
    if (m_captureFd >= 0)
        ::close(m_captureFd);
}

QByteArray StdoutCapture::take()
{
    std::fflush(stdout);
    QByteArray text;
    if (m_captureFd < 0)
        return text;
    char chunk[4096];
    for (;;) {
        const ssize_t n = pread(m_captureFd, chunk, sizeof chunk, m_readOffset);
        if (n <= 0)
            break;
        text.append(chunk, int(n));
        m_readOffset += n;
    }
    return text;
}
