#ifndef COALESCINGREADER_H
#define COALESCINGREADER_H

#include "datagramreader.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QSocketNotifier;
class QUdpSocket;

// Decides when a UDP socket is read. While datagrams arrive slowly, each readyRead() drains the
// socket at once, as a plain receiver would. A console sending a show's universes one datagram
// at a time would then wake the program for every datagram, which costs far more than handling
// it; so above EnterRate the reader lets QUdpSocket's read notification lapse after a drain (it
// comes back only after one of QUdpSocket's own read calls) and drains on a timer, at most every
// IntervalMs instead, one wake-up per burst. The socket's receive buffer must hold an interval's
// traffic, and how much it holds depends on the machine (a stock Linux grants 416 KiB, and a
// network card's driver may charge 2-4 KiB for each datagram): so the wait is never longer than
// a quarter of the time the queue takes to fill at the rate just seen, and where that is under
// a millisecond the reader stays with reading at once. When the timed drains of LeaveWindowMs
// find the rate below LeaveRate, a notifier of its own waits for the next datagram, whose drain
// arms QUdpSocket's notification again. Every datagram still reaches the handler once, in
// arrival order.
class CoalescingReader : public QObject
{
public:
    // The longest wait, chosen from bench_flood: 5 ms keeps a 44,000/s show to some 200
    // wake-ups a second.
    static constexpr int IntervalMs = 5;
    static constexpr int EnterRate = 2000; // datagrams per second
    static constexpr int LeaveRate = 1000;
    // The spans over which the rate is judged while reading at once, and while on the timer.
    static constexpr int WindowMs = 20;
    static constexpr int LeaveWindowMs = 100;

    CoalescingReader(QUdpSocket *socket, DatagramReader *reader, DatagramReader::Handler handler);
    ~CoalescingReader() override;
    CoalescingReader(const CoalescingReader &) = delete;
    CoalescingReader &operator=(const CoalescingReader &) = delete;

    // For readyRead(): drains everything pending now; returns how many were handled.
    int readPending();

    bool isCoalescing() const { return m_coalescing; }
    // The wait between timed drains now, in milliseconds.
    int intervalMs() const { return m_intervalMs; }
    // Drains so far, whatever woke them (for tests and measurements).
    quint64 wakeUps() const { return m_wakeUps; }

private:
    int drain(bool armNotification);
    void drainOnTimer();
    void datagramWaiting();
    void stopCoalescing();
    // The longest wait (at most IntervalMs) that leaves three quarters of the receive buffer
    // free when datagrams arrive at the rate; 0 when that is under a millisecond.
    int safeIntervalMs(double datagramsPerSecond) const;

    QUdpSocket *m_socket;
    DatagramReader *m_reader;
    DatagramReader::Handler m_handler;
    QTimer m_timer;
    QSocketNotifier *m_waiting; // enabled only while QUdpSocket's notification is off
    QElapsedTimer m_clock;      // since the current window began
    QElapsedTimer m_sinceDrain;
    // What the kernel charges the receive buffer for each datagram, as the last drain found it
    // (0 while unknown), and the buffer's size.
    qint64 m_bytesPerDatagram = 0;
    qint64 m_bufferBytes = 0;
    int m_intervalMs = IntervalMs;
    quint64 m_windowCount = 0;
    quint64 m_wakeUps = 0;
    bool m_coalescing = false;
};

#endif // COALESCINGREADER_H
