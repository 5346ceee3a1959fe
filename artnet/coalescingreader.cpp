#include "coalescingreader.h"

#include <QSocketNotifier>
#include <QUdpSocket>

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
    m_timer.setInterval(IntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &CoalescingReader::drainOnTimer);
    m_clock.start();
}

CoalescingReader::~CoalescingReader() = default;

int CoalescingReader::drain(bool armNotification)
{
    ++m_wakeUps;
    m_reader->setSocket(m_socket);
    return m_reader->drain(m_handler, armNotification);
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
        const bool heavy = m_windowCount * 1000 >= quint64(EnterRate) * quint64(elapsedMs);
        m_windowCount = 0;
        m_clock.restart();
        if (heavy) {
            m_coalescing = true; // the window just restarted counts the timed drains
            const int handled = drain(false);
            m_windowCount = quint64(handled);
            m_timer.start();
            return handled;
        }
    }
    const int handled = drain(true);
    m_windowCount += quint64(handled);
    return handled;
}

void CoalescingReader::drainOnTimer()
{
    m_windowCount += quint64(drain(false));
    // Consoles send a frame's universes in a burst and then pause until the next frame: a
    // quiet interval or two is no reason to go back to a wake-up per datagram.
    const qint64 elapsedMs = m_clock.elapsed();
    if (elapsedMs < LeaveWindowMs) {
        m_timer.start();
        return;
    }
    const bool heavy = m_windowCount * 1000 >= quint64(LeaveRate) * quint64(elapsedMs);
    m_windowCount = 0;
    m_clock.restart();
    if (heavy) {
        m_timer.start();
        return;
    }
    m_coalescing = false;
    m_waiting->setEnabled(true); // fires at once if a datagram came after the drain
}

void CoalescingReader::datagramWaiting()
{
    m_waiting->setEnabled(false);
    readPending();
}
