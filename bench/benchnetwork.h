#ifndef BENCHNETWORK_H
#define BENCHNETWORK_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// What the benchmarks measure beside their own figures: the kernel's UDP counters and this
// process's memory, CPU time and wake-ups, and a plain socket for the receiver they compare
// with. The private network itself and its peer sockets are PrivateNetwork's (tests/support).
namespace BenchNetwork {

constexpr quint16 ArtNetPort = 6454;

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
