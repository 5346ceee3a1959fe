#include "multicastmemberships.h"

#include <QtGlobal>

#include <utility>

#ifdef Q_OS_LINUX
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_LINUX
// 0 on success, else errno.
int changeMembership(int descriptor, int option, quint32 group,
                     const MulticastMemberships::Interface &interface)
{
    ip_mreqn request = {};
    request.imr_multiaddr.s_addr = htonl(group);
    request.imr_address.s_addr = htonl(interface.address);
    request.imr_ifindex = interface.index;
    return ::setsockopt(descriptor, IPPROTO_IP, option, &request, sizeof request) == 0 ? 0 : errno;
}
#endif

} // namespace

MulticastMemberships::~MulticastMemberships()
{
    leaveAll();
}

void MulticastMemberships::setInterfaces(const QList<Interface> &interfaces)
{
    const QList<Interface> wanted = interfaces.isEmpty() ? QList<Interface>{Interface()} : interfaces;
    if (wanted == m_interfaces)
        return;
    const QList<quint32> groups = m_groups.keys();
    leaveAll();
    m_interfaces = wanted;
    for (const quint32 group : groups)
        join(group);
}

bool MulticastMemberships::join(quint32 group)
{
    if (m_groups.contains(group))
        return true;
    QList<int> holders;
    holders.reserve(m_interfaces.size());
    bool joined = false;
    for (const Interface &interface : std::as_const(m_interfaces)) {
        const int holder = joinOnInterface(group, interface);
        holders.append(holder);
        joined = joined || holder >= 0;
    }
    if (joined)
        m_groups.insert(group, holders);
    return joined;
}

// The index of the socket that took the membership, or -1.
int MulticastMemberships::joinOnInterface(quint32 group, const Interface &interface)
{
#ifdef Q_OS_LINUX
    for (size_t i = 0;; ++i) {
        if (i == m_sockets.size() && !openSocket()) {
            ++m_failedJoins;
            return -1;
        }
        JoiningSocket &socket = m_sockets[i];
        if (socket.capacity >= 0 && socket.memberships >= socket.capacity)
            continue;
        const int error = changeMembership(socket.descriptor, IP_ADD_MEMBERSHIP, group, interface);
        if (error == 0) {
            ++socket.memberships;
            ++m_membershipCount;
            return int(i);
        }
        if (error != ENOBUFS) {
            ++m_failedJoins;
            return -1;
        }
        socket.capacity = socket.memberships;
    }
#else
    Q_UNUSED(group)
    Q_UNUSED(interface)
    ++m_failedJoins;
    return -1;
#endif
}

bool MulticastMemberships::openSocket()
{
#ifdef Q_OS_LINUX
    if (int(m_sockets.size()) >= MaxSockets)
        return false;
    const int descriptor = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return false;
    m_sockets.push_back(JoiningSocket{descriptor, 0, -1});
    return true;
#else
    return false;
#endif
}

void MulticastMemberships::leave(quint32 group)
{
    const auto found = m_groups.constFind(group);
    if (found == m_groups.cend())
        return;
#ifdef Q_OS_LINUX
    const QList<int> &holders = found.value();
    for (int i = 0; i < holders.size(); ++i) {
        if (holders[i] < 0)
            continue;
        JoiningSocket &socket = m_sockets[size_t(holders[i])];
        changeMembership(socket.descriptor, IP_DROP_MEMBERSHIP, group, m_interfaces[i]);
        --socket.memberships;
        --m_membershipCount;
    }
#endif
    m_groups.erase(found);
}

// Closing a socket drops its memberships at once.
void MulticastMemberships::leaveAll()
{
#ifdef Q_OS_LINUX
    for (const JoiningSocket &socket : m_sockets)
        ::close(socket.descriptor);
#endif
    m_sockets.clear();
    m_groups.clear();
    m_membershipCount = 0;
}
