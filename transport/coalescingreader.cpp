#include "coalescingreader.h"

#include <QSocketNotifier>
#include <QUdpSocket>

#ifdef Q_OS_LINUX
#include <linux/sock_diag.h>
#include <sys/socket.h>
#endif

namespace {

// The bytes the kernel holds in the socket's receive queue, and the queue's limit; false where
// the system does not tell.
bool readReceiveQueue(qintptr descriptor, qint64 *queuedBytes, qint64 *bufferBytes)
{
#if defined(Q_OS_LINUX) && defined(SO_MEMINFO)
    quint32 memory[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof memory;
    if (descriptor < 0
        || getsockopt(int(descriptor), SOL_SOCKET, SO_MEMINFO, memory, &length) != 0
        || length < socklen_t((SK_MEMINFO_RCVBUF + 1) * sizeof(quint32)))
        return false;
    *queuedBytes = memory[SK_MEMINFO_RMEM_ALLOC];
    *bufferBytes = memory[SK_MEMINFO_RCVBUF];
    return true;
#else
    Q_UNUSED(descriptor);
    Q_UNUSED(queuedBytes);
    Q_UNUSED(bufferBytes);
    return false;
#endif
}

} // namespace

CoalescingReader::CoalescingReader(QUdpSocket *socket, DatagramReader *reader,
                                   DatagramReader::Handler handler)
    : m_socket(socket),
      m_reader(reader),
      m_handler(std::move(handler)),
      m_waiting(new QSocketNotifier(socket->socketDescriptor(), QSocketNotifier::Read, this))
{
    m_waiting->setEnabled(false);
    connect(m_waiting, &QSocketNotifier::activated, this, &CoalescingReader::datagramWaiting);
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CoalescingReader::drainOnTimer);
    m_clock.start();
    m_sinceDrain.start();
}

CoalescingReader::~CoalescingReader() = default;

int CoalescingReader::drain(bool armNotification)
{
    ++m_wakeUps;
    qint64 queuedBytes = 0;
    const bool measured = !armNotification
            && readReceiveQueue(m_socket->socketDescriptor(), &queuedBytes, &m_bufferBytes);
    m_reader->setSocket(m_socket);
    const int handled = m_reader->drain(m_handler, armNotification);
    m_sinceDrain.restart();
    if (measured && handled > 0 && queuedBytes > 0)
        m_bytesPerDatagram = queuedBytes / handled;
    return handled;
}

int CoalescingReader::safeIntervalMs(double datagramsPerSecond) const
{
    if (m_bytesPerDatagram <= 0 || m_bufferBytes <= 0 || datagramsPerSecond <= 0)
        return IntervalMs;
    const double fillMs = 1000.0 * double(m_bufferBytes)
            / (double(m_bytesPerDatagram) * datagramsPerSecond);
    return int(qMin(double(IntervalMs), fillMs / 4));
}

void CoalescingReader::stopCoalescing()
{
    m_coalescing = false;
    m_waiting->setEnabled(true); // fires at once if a datagram came after the drain
}

int CoalescingReader::readPending()
{
    if (m_coalescing) {
        // Something armed QUdpSocket's notification meanwhile; let it lapse again.
        const int handled = drain(false);
        m_windowCount += quint64(handled);
        return handled;
    }
    const qint64 elapsedMs = m_clock.elapsed();
    if (elapsedMs >= WindowMs) {
        const quint64 windowCount = m_windowCount;
        const bool heavy = windowCount * 1000 >= quint64(EnterRate) * quint64(elapsedMs);
        m_windowCount = 0;
        m_clock.restart();
        if (heavy) {
            const double rate = double(windowCount) * 1000 / double(elapsedMs);
            const int handled = drain(false);
            m_windowCount = quint64(handled); // the window just restarted counts the timed drains
            m_intervalMs = safeIntervalMs(rate);
            if (m_intervalMs < 1) {
                stopCoalescing();
                return handled;
            }
            m_coalescing = true;
            m_timer.start(m_intervalMs);
            return handled;
        }
    }
    const int handled = drain(true);
    m_windowCount += quint64(handled);
    return handled;
}

void CoalescingReader::drainOnTimer()
{
    const qint64 waitedNs = m_sinceDrain.nsecsElapsed();
    const int handled = drain(false);
    m_windowCount += quint64(handled);
    // An empty drain says nothing of the next burst; and the wait grows back a millisecond at
    // a time, so that one quiet spell cannot make it overrun the buffer at once.
    if (handled > 0 && waitedNs > 0)
        m_intervalMs = qMin(m_intervalMs + 1,
                            safeIntervalMs(double(handled) * 1e9 / double(waitedNs)));
    if (m_intervalMs < 1) {
        m_windowCount = 0;
        m_clock.restart();
        stopCoalescing();
        return;
    }
    // Consoles send a frame's universes in a burst and then pause until the next frame: a
    // quiet interval or two is no reason to go back to a wake-up per datagram.
    const qint64 elapsedMs = m_clock.elapsed();
    if (elapsedMs < LeaveWindowMs) {
        m_timer.start(m_intervalMs);
        return;
    }
    const bool heavy = m_windowCount * 1000 >= quint64(LeaveRate) * quint64(elapsedMs);
    m_windowCount = 0;
    m_clock.restart();
    if (heavy) {
        m_timer.start(m_intervalMs);
        return;
    }
    stopCoalescing();
}

void CoalescingReader::datagramWaiting()
{
    m_waiting->setEnabled(false);
    readPending();
}
