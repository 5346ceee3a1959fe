#include "datagramreader.h"

#include <QUdpSocket>

#include <algorithm>
#include <chrono>
#include <cstring>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <ctime>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

struct DatagramReader::Batch
{
    // Without a tap, room for the timestamp alone, which the kernel writes first. QUdpSocket
    // also asks for the destination and hop limit of each datagram; with no room for them the
    // kernel skips them, as it did before there was a control buffer at all. A tap wants the
    // destination, so then the whole buffer is offered: either form of it and the hop limit.
    static constexpr size_t TimestampOnly = CMSG_SPACE(sizeof(timespec));
    struct Control
    {
        alignas(cmsghdr) char bytes[TimestampOnly + CMSG_SPACE(sizeof(in6_pktinfo))
                                    + CMSG_SPACE(sizeof(in_pktinfo)) + 2 * CMSG_SPACE(sizeof(int))];
    };

    std::vector<mmsghdr> headers;
    std::vector<iovec> vectors;
    std::vector<sockaddr_storage> addresses;
    std::vector<Control> controls;
    // The sender last turned into m_sender, port cleared, so that a run of datagrams from one
    // sender does not rebuild the address each time.
    sockaddr_storage lastSender = {};
    bool haveLastSender = false;
    // The descriptor whose timestamps are switched on; -1 until then, and again after a
    // datagram came without one (a new socket under an old descriptor number).
    int stampedDescriptor = -1;
};

namespace {

qint64 nanoseconds(const timespec &time)
{
    return qint64(time.tv_sec) * 1'000'000'000 + qint64(time.tv_nsec);
}

// The kernel stamps datagrams on CLOCK_REALTIME, which may be stepped; it is carried over to
// the monotonic clock with the two clocks' difference as read now, a moment after the arrival.
struct ClockReading
{
    qint64 monotonicNs = 0;
    qint64 realtimeOffsetNs = 0;

    static ClockReading now()
    {
        timespec monotonic = {};
        timespec realtime = {};
        clock_gettime(CLOCK_MONOTONIC, &monotonic);
        clock_gettime(CLOCK_REALTIME, &realtime);
        return {nanoseconds(monotonic), nanoseconds(realtime) - nanoseconds(monotonic)};
    }

    // The arrival time that the datagram's control messages give, or the time of this reading
    // when they hold no timestamp (then *stamped is false). Never later than the reading: a
    // realtime clock stepped back meanwhile must not put an arrival in the future.
    qint64 arrivalOf(msghdr &header, bool *stamped) const
    {
        for (cmsghdr *message = CMSG_FIRSTHDR(&header); message;
             message = CMSG_NXTHDR(&header, message)) {
            if (message->cmsg_level == SOL_SOCKET && message->cmsg_type == SCM_TIMESTAMPNS
                && message->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
                timespec arrival = {};
                std::memcpy(&arrival, CMSG_DATA(message), sizeof arrival);
                *stamped = true;
                return std::min(nanoseconds(arrival) - realtimeOffsetNs, monotonicNs);
            }
        }
        *stamped = false;
        return monotonicNs;
    }
};

// The datagram's IPv4 destination from its IP_PKTINFO (or, on a socket of both families, the
// IPv4-mapped IPV6_PKTINFO); 0 where the kernel gave neither.
quint32 destinationOf(msghdr &header)
{
    for (cmsghdr *message = CMSG_FIRSTHDR(&header); message;
         message = CMSG_NXTHDR(&header, message)) {
        if (message->cmsg_level == IPPROTO_IP && message->cmsg_type == IP_PKTINFO
            && message->cmsg_len >= CMSG_LEN(sizeof(in_pktinfo))) {
            in_pktinfo info = {};
            std::memcpy(&info, CMSG_DATA(message), sizeof info);
            return ntohl(info.ipi_addr.s_addr);
        }
        if (message->cmsg_level == IPPROTO_IPV6 && message->cmsg_type == IPV6_PKTINFO
            && message->cmsg_len >= CMSG_LEN(sizeof(in6_pktinfo))) {
            in6_pktinfo info = {};
            std::memcpy(&info, CMSG_DATA(message), sizeof info);
            if (IN6_IS_ADDR_V4MAPPED(&info.ipi6_addr)) {
                quint32 address = 0;
                std::memcpy(&address, info.ipi6_addr.s6_addr + 12, sizeof address);
                return ntohl(address);
            }
        }
    }
    return 0;
}

// The IPv4 address and port of a sender (IPv4-mapped on a socket of both families).
void ipv4Of(const sockaddr_storage &address, quint32 *ipv4, quint16 *port)
{
    *ipv4 = 0;
    *port = 0;
    if (address.ss_family == AF_INET) {
        const auto &in = reinterpret_cast<const sockaddr_in &>(address);
        *ipv4 = ntohl(in.sin_addr.s_addr);
        *port = ntohs(in.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto &in6 = reinterpret_cast<const sockaddr_in6 &>(address);
        *port = ntohs(in6.sin6_port);
        if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) {
            quint32 raw = 0;
            std::memcpy(&raw, in6.sin6_addr.s6_addr + 12, sizeof raw);
            *ipv4 = ntohl(raw);
        }
    }
}

} // namespace
#else
struct DatagramReader::Batch
{
};
#endif

namespace {

// Where the kernel gives no arrival time: the time the reader takes the datagram.
qint64 takenNowNs()
{
    return qint64(std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count());
}

} // namespace

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
    m_batch->controls.resize(size_t(m_batchSize));
    for (int i = 0; i < m_batchSize; ++i) {
        iovec &vector = m_batch->vectors[size_t(i)];
        vector.iov_base = m_buffer.data() + qsizetype(i) * m_capacity;
        vector.iov_len = size_t(m_capacity);
    }
#endif
    setSocket(socket);
}

DatagramReader::~DatagramReader() = default;

void DatagramReader::setSocket(QUdpSocket *socket)
{
    m_socket = socket;
#ifdef Q_OS_LINUX
    if (m_socket)
        stampArrivals(m_socket->socketDescriptor());
#endif
}

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
    m_draining = true;
    int handled = 0;
#ifdef Q_OS_LINUX
    const qintptr descriptor = m_socket->socketDescriptor();
    if (descriptor >= 0) {
        // The look at the queue that QUdpSocket would make, which also tells when the first
        // datagram arrived: QUdpSocket's own read passes no timestamp on.
        qint64 headArrivalNs = 0;
        quint32 headDestination = 0;
        if (peekHeadArrival(int(descriptor), &headArrivalNs, &headDestination)) {
            if (armNotification)
                handled += readOneThroughQt(handler, headArrivalNs, headDestination);
            handled += drainDescriptor(handler, int(descriptor));
        }
    } else
#endif
    if (m_socket->hasPendingDatagrams()) {
        Q_UNUSED(armNotification) // QUdpSocket's own calls always arm it
        handled += readOneThroughQt(handler, takenNowNs(), 0);
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
        const int read = readOneThroughQt(handler, takenNowNs(), 0);
        if (read == 0)
            break;
        handled += read;
    }
    return handled;
}

int DatagramReader::readOneThroughQt(const Handler &handler, qint64 arrivalNs,
                                     quint32 destination)
{
    char *slot = m_buffer.data();
    quint16 senderPort = 0;
    qint64 length = m_socket->readDatagram(slot, qint64(m_capacity) + 1, &m_sender, &senderPort);
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
    if (m_tap) {
        bool isIpv4 = false;
        const quint32 source = m_sender.toIPv4Address(&isIpv4);
        m_tap->tap(slot, int(length), isIpv4 ? source : 0, senderPort, destination,
                   m_socket->localPort(), arrivalNs);
    }
    handler(QByteArray::fromRawData(slot, qsizetype(length)), m_sender, arrivalNs);
    return 1;
}

#ifdef Q_OS_LINUX
void DatagramReader::stampArrivals(qintptr descriptor)
{
    const int on = 1;
    if (descriptor >= 0 && descriptor != m_batch->stampedDescriptor
        && ::setsockopt(int(descriptor), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0) {
        m_batch->stampedDescriptor = int(descriptor);
    }
}

// False when no datagram waits, where QUdpSocket::hasPendingDatagrams() would say so too (a
// pending socket error included).
bool DatagramReader::peekHeadArrival(int descriptor, qint64 *arrivalNs, quint32 *destination)
{
    Batch &batch = *m_batch;
    stampArrivals(descriptor);
    msghdr header = {};
    header.msg_control = batch.controls.front().bytes;
    header.msg_controllen = m_tap ? sizeof batch.controls.front().bytes : Batch::TimestampOnly;
    ssize_t peeked;
    do {
        // No data wanted: an empty buffer takes none, and the datagram stays queued.
        peeked = ::recvmsg(descriptor, &header, MSG_PEEK | MSG_DONTWAIT);
    } while (peeked < 0 && errno == EINTR);
    if (peeked < 0)
        return false;
    bool stamped = false;
    *arrivalNs = ClockReading::now().arrivalOf(header, &stamped);
    if (!stamped)
        batch.stampedDescriptor = -1;
    *destination = m_tap ? destinationOf(header) : 0;
    return true;
}

int DatagramReader::drainDescriptor(const Handler &handler, int descriptor)
{
    Batch &batch = *m_batch;
    const size_t controlLength = m_tap ? sizeof batch.controls.front().bytes : Batch::TimestampOnly;
    const quint16 localPort = m_tap ? m_socket->localPort() : 0;
    int handled = 0;
    for (;;) {
        for (int i = 0; i < m_batchSize; ++i) {
            msghdr &header = batch.headers[size_t(i)].msg_hdr;
            header = msghdr();
            header.msg_name = &batch.addresses[size_t(i)];
            header.msg_namelen = sizeof(sockaddr_storage);
            header.msg_iov = &batch.vectors[size_t(i)];
            header.msg_iovlen = 1;
            header.msg_control = batch.controls[size_t(i)].bytes;
            header.msg_controllen = controlLength;
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
        const ClockReading clocks = ClockReading::now();
        for (int i = 0; i < received; ++i) {
            mmsghdr &message = batch.headers[size_t(i)];
            if (message.msg_hdr.msg_flags & MSG_TRUNC)
                ++m_truncated;
            sockaddr_storage &address = batch.addresses[size_t(i)];
            const char *data = static_cast<const char *>(batch.vectors[size_t(i)].iov_base);
            bool stamped = false;
            const qint64 arrivalNs = clocks.arrivalOf(message.msg_hdr, &stamped);
            if (m_tap) {
                quint32 source = 0;
                quint16 sourcePort = 0;
                ipv4Of(address, &source, &sourcePort);
                m_tap->tap(data, int(std::min(message.msg_len, unsigned(m_capacity))), source,
                           sourcePort, destinationOf(message.msg_hdr), localPort, arrivalNs);
            }
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
            if (!stamped)
                batch.stampedDescriptor = -1;
            handler(QByteArray::fromRawData(data, qsizetype(message.msg_len)), m_sender, arrivalNs);
            ++handled;
        }
        // Fewer than asked for: the queue was empty when the kernel looked.
        if (received < m_batchSize)
            break;
    }
    return handled;
}
#endif
