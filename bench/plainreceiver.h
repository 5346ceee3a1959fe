#ifndef PLAINRECEIVER_H
#define PLAINRECEIVER_H

#include <QtGlobal>

#include <atomic>
#include <vector>

// The yardstick for the engine's receive path: the least a program can do to take ArtDmx off a
// socket, recvmmsg() into fixed buffers, looking only at the port-address and the first levels.
class PlainReceiver
{
public:
    static constexpr int BatchSize = 64;
    static constexpr int Capacity = 2048;

    explicit PlainReceiver(int fd);

    // Receives until the end mark for the universe arrives (see FloodSender::sendMark) or the
    // time is up. Returns the datagrams received before the mark; *sawMark tells which.
    quint64 receiveUntilMark(quint16 markUniverse, double timeoutSeconds, bool *sawMark);

    // Receives until stop becomes true (looked at least every 100 ms); returns how many.
    quint64 receiveUntilStopped(const std::atomic<bool> &stop);

    // Takes everything that is queued now without waiting; returns how many.
    quint64 drainQueued();

private:
    int receiveBatch(int flags);

    int m_fd;
    std::vector<unsigned char> m_buffers;
    std::vector<char> m_headers; // mmsghdr[BatchSize] and iovec[BatchSize], kept opaque here
};

#endif // PLAINRECEIVER_H
