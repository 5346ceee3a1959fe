#ifndef BENCHNETWORK_H
#define BENCHNETWORK_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// What the benchmarks need of the private test network that tests/netns-run builds: a check
// that they really run inside it, sockets in the peer namespace, and the kernel's UDP counters.
namespace BenchNetwork {

constexpr const char *LocalAddress = "2.0.0.10"; // art0, the benchmark's own namespace
constexpr const char *PeerAddress = "2.0.0.20";  // art1, the peer namespace
constexpr quint16 ArtNetPort = 6454;

// True inside a private namespace made by netns-run --peer; otherwise false with the reason.
bool isInsideWithPeer(QString *why);

// A blocking UDP socket made in the peer namespace with SO_BROADCAST set, or -1 and a reason.
int peerSocket(QString *error);

// A UDP socket of this namespace bound to 0.0.0.0:port with the given receive buffer, or -1.
int boundSocket(quint16 port, int receiveBuffer, QString *error);

// The UDP counters of /proc/net/snmp of the calling thread's namespace, and the packets the
// kernel's input queues dropped (/proc/net/softnet_stat, all CPUs).
struct Counters
{
    quint64 inDatagrams = 0;
    quint64 outDatagrams = 0;
    quint64 receiveBufferErrors = 0;
    quint64 backlogDrops = 0;
};
Counters readCounters();

// Resident memory of this process in KiB (VmRSS of /proc/self/status).
qint64 residentKiB();

// User plus system CPU time of this process in seconds.
double processCpuSeconds();

// Voluntary context switches of all threads of this process: each is a sleep, so a wake-up.
quint64 processWakeUps();

} // namespace BenchNetwork

#endif // BENCHNETWORK_H
