#ifndef MULTICASTMEMBERSHIPS_H
#define MULTICASTMEMBERSHIPS_H

#include <QHash>
#include <QList>
#include <QtGlobal>

#include <vector>

// The IPv4 multicast groups this host is a member of for one receiver, each on every interface
// address given. Linux lets one socket hold only net.ipv4.igmp_max_memberships memberships (20
// by default), so they are spread over as many joining sockets as that needs: a socket takes
// memberships until the kernel refuses one (ENOBUFS), then the next is opened.
//
// The joining sockets are never bound: they receive nothing. A membership belongs to the host,
// and the receiver's own socket, bound to the port with IP_MULTICAST_ALL on (Linux's default),
// hears every group the host joined. Measured on Linux 6.18: 1000 groups through 50 unbound
// joiners all reached one reading socket, with no copy queued anywhere else; joiners bound to
// the port as well each got a copy of every datagram, to be read or to fill their buffers.
class MulticastMemberships
{
public:
    static constexpr int MaxSockets = 1024;

    // An interface to join on: its index and IPv4 address (host byte order). An interface made
    // anew gets a new index even where it takes the old address, and has lost the memberships.
    struct Interface
    {
        int index = 0;       // 0 with address 0: the kernel chooses by its routes
        quint32 address = 0;
        friend bool operator==(const Interface &a, const Interface &b)
        {
            return a.index == b.index && a.address == b.address;
        }
    };

    MulticastMemberships() = default;
    ~MulticastMemberships();
    MulticastMemberships(const MulticastMemberships &) = delete;
    MulticastMemberships &operator=(const MulticastMemberships &) = delete;

    // The interfaces every group is joined on (none: one the kernel chooses). A change leaves
    // every group and joins it again on the new ones.
    void setInterfaces(const QList<Interface> &interfaces);
    QList<Interface> interfaces() const { return m_interfaces; }

    // Joins a group (host byte order) on every interface; false when no interface took it.
    bool join(quint32 group);
    void leave(quint32 group);
    void leaveAll();
    bool isJoined(quint32 group) const { return m_groups.contains(group); }

    int groupCount() const { return int(m_groups.size()); }
    int membershipCount() const { return m_membershipCount; }
    int socketCount() const { return int(m_sockets.size()); }
    // Memberships refused for another reason than a full socket, or for want of a socket.
    quint64 failedJoins() const { return m_failedJoins; }

private:
    struct JoiningSocket
    {
        int descriptor = -1;
        int memberships = 0;
        int capacity = -1; // learned at the first ENOBUFS; -1 while unknown
    };

    int joinOnInterface(quint32 group, const Interface &interface);
    bool openSocket();

    std::vector<JoiningSocket> m_sockets;
    QList<Interface> m_interfaces = {Interface()};
    // Group -> the joining socket holding it on each interface, in the order of m_interfaces
    // (-1 where the join failed).
    QHash<quint32, QList<int>> m_groups;
    int m_membershipCount = 0;
    quint64 m_failedJoins = 0;
};

#endif // MULTICASTMEMBERSHIPS_H
