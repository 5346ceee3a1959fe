#ifndef FLOODPROCESS_H
#define FLOODPROCESS_H

#include <QtGlobal>

#include <sys/types.h>

// The flood's sender as a process of its own in the peer namespace, so that the CPU time of the
// process that measures is the receiver's alone. It sends FloodSender's 512-channel ArtDmx round
// robin over a range of universes, paced datagram by datagram or flat out, or the same as sACN
// multicast, or both at once (each at the rate, from a thread of its own), and, when asked, an
// ArtPoll every 100 ms from port 6454 of the peer, timing each ArtPollReply.
// Run only inside tests/netns-run --peer.
namespace FloodProcess {

constexpr int PollIntervalMs = 100;
constexpr int MaxPolls = 1000;

enum class Traffic { ArtNet, Sacn, ArtNetAndSacn };

struct Report
{
    quint64 sent = 0;
    double seconds = 0;
    int polls = 0;
    int answered = 0;
    double pollMedianMs = 0;
    double pollWorstMs = 0;
};

// What a benchmark tells of one receiver under one flood, at the least.
struct ReceiverFigures
{
    const char *receiver = "";
    const char *flood = "";
    Report report;
    double cpuShare = 0; // of one core
    double wakeUpsPerSecond = 0;
    quint64 drops = 0;  // by the kernel, for want of room in a socket's queue
};

// Keeps the calling thread (and what it starts later) on one CPU, when there are two or more.
void pinToCpu(int cpu);

class SenderProcess
{
public:
    SenderProcess() = default;
    ~SenderProcess() { stop(); }
    SenderProcess(const SenderProcess &) = delete;
    SenderProcess &operator=(const SenderProcess &) = delete;

    // Forks the sender, which runs on CPU 1 and watches the universe given for the pattern.
    bool start(quint16 watchedUniverse);

    // Sends at the rate (0: flat out) for the time; with runEventLoop this thread's event loop
    // turns meanwhile, otherwise it only waits. Returns what was sent and how polls were answered.
    Report send(double rate, double seconds, bool poll, bool runEventLoop, int universes,
                quint16 firstUniverse, Traffic traffic = Traffic::ArtNet);

    void stop();

private:
    pid_t m_pid = -1;
    int m_commands = -1;
    int m_reports = -1;
    quint16 m_watchedUniverse = 0;
};

} // namespace FloodProcess

#endif // FLOODPROCESS_H
