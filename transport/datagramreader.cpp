#include "datagramreader.h"

#include <QUdpSocket>

#include <algorithm>
#include <cstring>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

struct DatagramReader::Batch
{
    std::vector<mmsghdr> headers;
    std::vector<iovec> vectors;
    std::vector<sockaddr_storage> addresses;
    // The sender last turned into m_sender, port cleared, so that a run of datagrams from one
    // sender does not rebuild the address each time.
    sockaddr_storage lastSender = {};
    bool haveLastSender = false;
};
#else
struct DatagramReader::Batch
{
};
#endif

DatagramReader::DatagramReader(QUdpSocket *socket, int batchSize, int capacity)
    : m_socket(socket),
      m_batchSize(std::max(1, batchSize)),
      m_capacity(std::max(1, capacity)),
      m_batch(new Batch)
{
    // One byte more than the slots hold, so that a read through Qt can tell a datagram that
    // filled the slot exactly from one that did not fit.
    m_buffer.resize(qsizetype(m_batchSize) * m_capacity + 1);
#ifdef Q_OS_LINUX
    m_batch->headers.resize(size_t(m_batchSize));
    m_batch->vectors.resize(size_t(m_batchSize));
    m_batch->addresses.resize(size_t(m_batchSize));
    for (int i = 0; i < m_batchSize; ++i) {
        iovec &vector = m_batch->vectors[size_t(i)];
        vector.iov_base = m_buffer.data() + qsizetype(i) * m_capacity;
        vector.iov_len = size_t(m_capacity);
    }
#endif
}

DatagramReader::~DatagramReader() = default;

int DatagramReader::drain(const Handler &handler, bool armNotification)
{
    if (!m_socket || !handler || m_draining)
        return 0;
    const QAbstractSocket::SocketState state = m_socket->state();
    if (state != QAbstractSocket::BoundState && state != QAbstractSocket::ConnectedState)
        return 0;
    // QUdpSocket emits readyRead() again only after one of its own read calls, and such a call
    // on an empty queue reports an error; so the first datagram goes through Qt, the rest
    // straight from the descriptor.
    ++m_receiveCalls;
    if (!m_socket->hasPendingDatagrams())
        return 0;
    m_draining = true;
    int handled = 0;
#ifdef Q_OS_LINUX
    const qintptr descriptor = m_socket->socketDescriptor();
    if (descriptor >= 0) {
        if (armNotification)
            handled += readOneThroughQt(handler);
        handled += drainDescriptor(handler, int(descriptor));
    } else
#endif
    {
        Q_UNUSED(armNotification) // QUdpSocket's own calls always arm it
        handled += readOneThroughQt(handler);
        handled += drainWithQt(handler);
    }
    m_draining = false;
    return handled;
}

int DatagramReader::drainWithQt(const Handler &handler)
{
    int handled = 0;
    while (m_socket->hasPendingDatagrams()) {
        ++m_receiveCalls;
        const int read = readOneThroughQt(handler);
        if (read == 0)
            break;
        handled += read;
    }
    return handled;
}

int DatagramReader::readOneThroughQt(const Handler &handler)
{
    char *slot = m_buffer.data();
    qint64 length = m_socket->readDatagram(slot, qint64(m_capacity) + 1, &m_sender);
    ++m_receiveCalls;
#ifdef Q_OS_LINUX
    m_batch->haveLastSender = false;
#endif
    if (length < 0)
        return 0;
    if (length > m_capacity) {
        ++m_truncated;
        length = m_capacity;
    }
    handler(QByteArray::fromRawData(slot, qsizetype(length)), m_sender);
    return 1;
}

#ifdef Q_OS_LINUX
int DatagramReader::drainDescriptor(const Handler &handler, int descriptor)
{
    Batch &batch = *m_batch;
    int handled = 0;
    for (;;) {
        for (int i = 0; i < m_batchSize; ++i) {
            msghdr &header = batch.headers[size_t(i)].msg_hdr;
            header = msghdr();
            header.msg_name = &batch.addresses[size_t(i)];
            header.msg_namelen = sizeof(sockaddr_storage);
            header.msg_iov = &batch.vectors[size_t(i)];
            header.msg_iovlen = 1;
            batch.headers[size_t(i)].msg_len = 0;
        }
        const int received = ::recvmmsg(descriptor, batch.headers.data(), unsigned(m_batchSize),
                                        MSG_DONTWAIT, nullptr);
        ++m_receiveCalls;
        if (received < 0) {
            if (errno == EINTR)
                continue;
            break; // EAGAIN: empty; anything else is left to the closing read through Qt
        }
        for (int i = 0; i < received; ++i) {
            const mmsghdr &message = batch.headers[size_t(i)];
            if (message.msg_hdr.msg_flags & MSG_TRUNC)
                ++m_truncated;
            sockaddr_storage &address = batch.addresses[size_t(i)];
            // The port is not part of what the handler gets; clearing it lets one comparison
            // recognise the same sender.
            if (address.ss_family == AF_INET)
                reinterpret_cast<sockaddr_in &>(address).sin_port = 0;
            else if (address.ss_family == AF_INET6)
                reinterpret_cast<sockaddr_in6 &>(address).sin6_port = 0;
            if (!batch.haveLastSender
                || std::memcmp(&address, &batch.lastSender, message.msg_hdr.msg_namelen) != 0) {
                m_sender.setAddress(reinterpret_cast<const sockaddr *>(&address));
                std::memcpy(&batch.lastSender, &address, message.msg_hdr.msg_namelen);
                batch.haveLastSender = true;
            }
            const char *data = static_cast<const char *>(batch.vectors[size_t(i)].iov_base);
            handler(QByteArray::fromRawData(data, qsizetype(message.msg_len)), m_sender);
            ++handled;
        }
        // Fewer than asked for: the queue was empty when the kernel looked.
        if (received < m_batchSize)
            break;
    }
    return handled;
}
#endif
