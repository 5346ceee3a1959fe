#include "plainreceiver.h"

#include "floodsender.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>
#include <QElapsedTimer>

namespace {

constexpr int SubUni = 14;
constexpr int Net = 15;
constexpr int Data = 18;

struct Arrays
{
    mmsghdr headers[PlainReceiver::BatchSize];
    iovec vectors[PlainReceiver::BatchSize];
};

} // namespace

PlainReceiver::PlainReceiver(int fd)
    : m_fd(fd),
      m_buffers(size_t(BatchSize) * Capacity),
      m_headers(sizeof(Arrays))
{
    Arrays *arrays = reinterpret_cast<Arrays *>(m_headers.data());
    for (int i = 0; i < BatchSize; ++i) {
        arrays->vectors[i].iov_base = m_buffers.data() + size_t(i) * Capacity;
        arrays->vectors[i].iov_len = Capacity;
    }
}

int PlainReceiver::receiveBatch(int flags)
{
    Arrays *arrays = reinterpret_cast<Arrays *>(m_headers.data());
    for (int i = 0; i < BatchSize; ++i) {
        arrays->headers[i] = mmsghdr();
        arrays->headers[i].msg_hdr.msg_iov = &arrays->vectors[i];
        arrays->headers[i].msg_hdr.msg_iovlen = 1;
    }
    int received;
    do
        received = ::recvmmsg(m_fd, arrays->headers, BatchSize, flags, nullptr);
    while (received < 0 && errno == EINTR);
    return received;
}

quint64 PlainReceiver::receiveUntilMark(quint16 markUniverse, double timeoutSeconds, bool *sawMark)
{
    // A blocking wait for the first datagram of a batch, bounded so that a lost mark cannot
    // hang the run.
    const timeval wait = {0, 100 * 1000};
    setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    const quint16 markPortAddress = quint16(markUniverse - 1);
    Arrays *arrays = reinterpret_cast<Arrays *>(m_headers.data());
    quint64 count = 0;
    *sawMark = false;
    QElapsedTimer clock;
    clock.start();
    while (!*sawMark && clock.elapsed() < qint64(timeoutSeconds * 1000)) {
        const int received = receiveBatch(MSG_WAITFORONE);
        for (int i = 0; i < received; ++i) {
            const unsigned char *packet = m_buffers.data() + size_t(i) * Capacity;
            const unsigned length = arrays->headers[i].msg_len;
            if (length > Data + 4 && quint16(packet[SubUni] | packet[Net] << 8) == markPortAddress
                && FloodSender::isMark(packet + Data, int(length) - Data)) {
                *sawMark = true;
                break;
            }
            ++count;
        }
    }
    return count;
}

quint64 PlainReceiver::receiveUntilStopped(const std::atomic<bool> &stop)
{
    const timeval wait = {0, 100 * 1000};
    setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    quint64 count = 0;
    while (!stop.load(std::memory_order_relaxed)) {
        const int received = receiveBatch(MSG_WAITFORONE);
        if (received > 0)
            count += quint64(received);
    }
    return count;
}

quint64 PlainReceiver::drainQueued()
{
    quint64 count = 0;
    for (;;) {
        const int received = receiveBatch(MSG_DONTWAIT);
        if (received <= 0)
            break;
        count += quint64(received);
        if (received < BatchSize)
            break;
    }
    return count;
}
