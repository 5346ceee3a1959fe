#ifndef PRIVATENETWORK_H
#define PRIVATENETWORK_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// Helpers for tests that open sockets. Such tests run under tests/netns-run, in a private
// network namespace of their own, optionally joined by a veth pair to a "peer" namespace that
// stands in for another host (see netns-run for the addresses).
namespace PrivateNetwork {

constexpr const char *LocalAddress = "2.0.0.10"; // art0, in the test's own namespace
constexpr const char *PeerAddress = "2.0.0.20";  // art1, in the peer namespace

// True when this process runs in a private namespace made by netns-run; otherwise false with
// the reason. Tests that send anything must refuse to run outside.
bool isInside(QString *why);

// True when netns-run made a peer namespace for this test.
bool hasPeer();

// isInside() and hasPeer() together, for programs that need the peer (the benchmarks).
bool isInsideWithPeer(QString *why);

// A UDP socket created in the peer namespace, bound to addr:port (addr empty: any address),
// with SO_BROADCAST set; -1 and an error text on failure. Hand it to QUdpSocket with
// setSocketDescriptor().
int peerUdpSocket(const QString &address, quint16 port, QString *error);
// As peerUdpSocket, but blocking and with a 4 MiB send buffer: a sender that waits for room
// instead of dropping what it cannot queue (the benchmarks' floods count every datagram sent).
int peerSenderSocket(const QString &address, quint16 port, QString *error);
// The same in any network namespace, named by its /proc/PID/ns/net path.
int udpSocketInNamespace(const QByteArray &nsPath, const QString &address, quint16 port,
                         QString *error);

// Runs a command (for example "ip addr add ...") in the test's own namespace, or in the peer's.
bool run(const QStringList &command, QString *output = nullptr);
bool runInPeer(const QStringList &command, QString *output = nullptr);

} // namespace PrivateNetwork

// Redirects the process's standard output into a temporary file while it lives, so that a
// test can compare what the program writes there byte by byte.
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    // Everything written since construction (or the last take), emptied afterwards.
    QByteArray take();

private:
    int m_savedStdout = -1;
    int m_captureFd = -1;
    long m_readOffset = 0;
};

#define VARDOLUX_REQUIRE_PRIVATE_NETWORK()                                                      \
    do {                                                                                       \
        QString why_;                                                                          \
        if (!PrivateNetwork::isInside(&why_))                                                  \
            QFAIL(qPrintable(QStringLiteral("refusing to open sockets outside a private "      \
                                            "network namespace (run it through ctest): ")      \
                             + why_));                                                         \
    } while (false)

#endif // PRIVATENETWORK_H
