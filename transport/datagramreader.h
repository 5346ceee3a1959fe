#ifndef DATAGRAMREADER_H
#define DATAGRAMREADER_H

#include "datagramhandler.h"
#include "datagramtap.h"

#include <QByteArray>
#include <QHostAddress>
#include <QtGlobal>

#include <memory>

class QUdpSocket;

// Empties a bound QUdpSocket in batches. On Linux it reads the socket descriptor with
// recvmmsg() into buffers allocated once, so a burst of datagrams costs a few system calls
// instead of three per datagram; elsewhere it uses QUdpSocket's own calls. Each datagram is
// handed to the handler with its sender and its arrival time before the next one is looked at.
//
// The arrival time is the kernel's receive timestamp (SO_TIMESTAMPNS) carried over to
// CLOCK_MONOTONIC (std::chrono::steady_clock, QElapsedTimer), so that a datagram that waited in
// the queue while the program was busy keeps the time it arrived. Where the kernel gives none
// (another platform, a socket without a descriptor, a datagram queued before the timestamps
// were switched on) it is the time the reader took the datagram.
//
// The datagram given to the handler refers to the reader's buffer: it is valid only during
// the call. The sender address object is reused from datagram to datagram.
//
// A tap, where one is set, sees each datagram before the handler, with its sender's and its
// destination's address and port (the kernel's IP_PKTINFO; 0 where it gives none).
class DatagramReader
{
public:
    using Handler = DatagramHandler;

    static constexpr int DefaultBatchSize = 64;
    // Larger than any lighting-control datagram (Art-Net's biggest, ArtFirmwareMaster, has 1060
    // bytes; an sACN data packet at most 638).
    static constexpr int DefaultCapacity = 2048;

    explicit DatagramReader(QUdpSocket *socket = nullptr, int batchSize = DefaultBatchSize,
                            int capacity = DefaultCapacity);
    ~DatagramReader();

    // The socket that the next drain() reads; one reader (and its buffers) can serve several.
    // The kernel starts stamping a socket's datagrams when the reader is given it.
    void setSocket(QUdpSocket *socket);
    DatagramReader(const DatagramReader &) = delete;
    DatagramReader &operator=(const DatagramReader &) = delete;

    // Reads and handles every datagram that is waiting; returns how many were handled. Meant
    // to be called on readyRead(): the first datagram is read through QUdpSocket itself, which
    // emits readyRead() again only after one of its own read calls. With armNotification false
    // every datagram is read from the descriptor (where there is one), so after a readyRead()
    // the socket stays silent until a later drain arms it. A drain() called from within a
    // handler returns 0 at once: the buffers are in use.
    int drain(const Handler &handler, bool armNotification = true);

    // Null for none; the reader does not own it.
    void setTap(DatagramTap *tap) { m_tap = tap; }
    DatagramTap *tap() const { return m_tap; }

    // Datagrams longer than the capacity are handed over cut to the capacity and counted here.
    quint64 truncatedCount() const { return m_truncated; }
    // Calls that reached the kernel for receiving during the reader's life (for measurements).
    quint64 receiveCalls() const { return m_receiveCalls; }
    int capacity() const { return m_capacity; }

private:
    struct Batch; // the recvmmsg() arrays; platform types stay out of this header

    int drainWithQt(const Handler &handler);
    int readOneThroughQt(const Handler &handler, qint64 arrivalNs, quint32 destination);
#ifdef Q_OS_LINUX
    void stampArrivals(qintptr descriptor);
    bool peekHeadArrival(int descriptor, qint64 *arrivalNs, quint32 *destination);
    int drainDescriptor(const Handler &handler, int descriptor);
#endif

    QUdpSocket *m_socket;
    int m_batchSize;
    int m_capacity;
    QByteArray m_buffer; // m_batchSize slots of m_capacity bytes
    std::unique_ptr<Batch> m_batch;
    QHostAddress m_sender;
    DatagramTap *m_tap = nullptr;
    quint64 m_truncated = 0;
    quint64 m_receiveCalls = 0;
    bool m_draining = false;
};

#endif // DATAGRAMREADER_H
