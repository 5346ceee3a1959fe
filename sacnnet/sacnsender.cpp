#include "sacnsender.h"

#include "multicastinterfaces.h"
#include "sacnmessage.h"

#include <QFile>
#include <QSysInfo>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The program's own UUID namespace: a name-based UUID of its name in the DNS namespace of
// RFC 4122, so that no other program's machine-derived CIDs can equal ours.
QUuid programNamespace()
{
    const QUuid dns(0x6ba7b810, 0x9dad, 0x11d1, 0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8);
    return QUuid::createUuidV5(dns, QStringLiteral("sacn.vardolux.example"));
}

QByteArray machineId()
{
    for (const char *path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        QFile file(QString::fromLatin1(path));
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray id = file.read(256).trimmed();
            if (!id.isEmpty())
                return id;
        }
    }
    return QSysInfo::machineUniqueId();
}

// A name cut to at most `limit` bytes without splitting a character: never before a
// continuation byte of UTF-8.
QByteArray cutUtf8(QByteArray text, int limit)
{
    if (text.size() <= limit)
        return text;
    int size = limit;
    while (size > 0 && (quint8(text.at(size)) & 0xC0) == 0x80)
        --size;
    text.truncate(size);
    return text;
}

} // namespace

SacnSender::SacnSender(QObject *parent) : QObject(parent)
{
    m_header.cid = machineCid();
    m_header.sourceName = QByteArrayLiteral("Vardolux");
    m_header.priority = DefaultPriority;
    m_repeatTimer = new QTimer(this);
    m_repeatTimer->setInterval(RepeatMs);
    connect(m_repeatTimer, &QTimer::timeout, this, &SacnSender::repeat);
}

SacnSender::~SacnSender()
{
    // Receivers would otherwise hold the last levels for 2.5 s after the program has gone.
    stop();
    if (m_socket >= 0)
        ::close(m_socket);
}

SacnPackets::Cid SacnSender::machineCid()
{
    const QByteArray id = machineId();
    const QUuid uuid = id.isEmpty() ? QUuid::createUuidV5(programNamespace(), QByteArray())
                                    : QUuid::createUuidV5(programNamespace(), id);
    const QByteArray bytes = uuid.toRfc4122();
    SacnPackets::Cid cid = {};
    std::memcpy(cid.data(), bytes.constData(), cid.size());
    return cid;
}

void SacnSender::setSourceName(const QString &name)
{
    m_header.sourceName = cutUtf8(name.toUtf8(), SacnMessage::SourceNameSize - 1);
}

QString SacnSender::sourceName() const
{
    return QString::fromUtf8(m_header.sourceName);
}

void SacnSender::setPriority(int priority)
{
    m_header.priority = quint8(std::clamp(priority, 0, int(SacnMessage::MaxPriority)));
}

qint64 SacnSender::send(const QByteArray &levels, quint16 universe)
{
    if (levels.isEmpty() || levels.size() > int(m_levels.size())
        || universe < SacnPackets::MinUniverse || universe > SacnPackets::MaxUniverse)
        return -1;
    if (!openSocket())
        return -1;
    if (m_sending && universe != m_header.universe)
        terminate();
    if (!m_sending) {
        m_header.universe = universe;
        m_header.sequence = 0;
    }
    std::memcpy(m_levels.data(), levels.constData(), size_t(levels.size()));
    m_count = quint16(levels.size());
    m_sending = true;
    chooseRoutes();
    const qint64 sent = transmit(0);
    m_repeatTimer->start();
    return sent;
}

void SacnSender::stop()
{
    m_repeatTimer->stop();
    if (m_sending)
        terminate();
}

void SacnSender::terminate()
{
    for (int i = 0; i < TerminatedPackets; ++i)
        transmit(SacnMessage::OptionStreamTerminated);
    m_sending = false;
}

void SacnSender::repeat()
{
    if (m_sending)
        transmit(0);
}

bool SacnSender::openSocket()
{
    if (m_socket >= 0)
        return true;
    m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_socket < 0)
        return false;
    // Nothing is ever read here: what a network sends to the socket's port may hold no more
    // than the kernel's smallest receive buffer.
    const int smallest = 0;
    ::setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);
    return true;
}

// One route per interface, from its first address; the networks of all its addresses are
// reached. Chosen at each send(), as the Art-Net output chooses its broadcasts.
void SacnSender::chooseRoutes()
{
    m_routes.clear();
    m_networks.clear();
    const QList<MulticastInterfaces::Address> addresses = MulticastInterfaces::addresses();
    for (const MulticastInterfaces::Address &address : addresses) {
        const bool known = std::any_of(m_routes.cbegin(), m_routes.cend(),
                                       [&](const Route &route) { return route.index == address.index; });
        if (!known)
            m_routes.append({address.index, address.address});
        if (!m_networks.contains(address.network))
            m_networks.append(address.network);
    }
    if (m_routes.isEmpty()) {
        m_routes.append(Route());
        m_networks.append(QStringLiteral("239.255.%1.%2")
                                  .arg(m_header.universe >> 8)
                                  .arg(m_header.universe & 0xFF));
    }
}

// The packet once per route, with the next sequence number: the copies on several networks
// are one packet of the stream.
qint64 SacnSender::transmit(quint8 options)
{
    m_header.options = options;
    const int size = SacnPackets::writeDataPacket(m_packet.data(), m_header, m_levels.data(), m_count);
    ++m_header.sequence;
    sockaddr_in group = {};
    group.sin_family = AF_INET;
    group.sin_port = htons(SacnPackets::Port);
    group.sin_addr.s_addr = htonl(0xEFFF0000u | m_header.universe);
    bool sent = false;
    for (const Route &route : std::as_const(m_routes)) {
        ip_mreqn leaving = {};
        leaving.imr_address.s_addr = htonl(route.address);
        leaving.imr_ifindex = route.index;
        ::setsockopt(m_socket, IPPROTO_IP, IP_MULTICAST_IF, &leaving, sizeof leaving);
        sent = ::sendto(m_socket, m_packet.data(), size_t(size), 0,
                        reinterpret_cast<const sockaddr *>(&group), sizeof group) == size
                || sent;
    }
    ++m_packetsSent;
    return sent ? size : -1;
}
