#include "networkchangewatcher.h"

#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

NetworkChangeWatcher::NetworkChangeWatcher(QObject *parent) : QObject(parent)
{
#ifdef Q_OS_LINUX
    const int descriptor = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK,
                                    NETLINK_ROUTE);
    if (descriptor < 0)
        return;
    sockaddr_nl address = {};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
    if (::bind(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(descriptor);
        return;
    }
    m_descriptor = descriptor;
    m_notifier = new QSocketNotifier(qintptr(m_descriptor), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &NetworkChangeWatcher::readMessages);
#endif
}

NetworkChangeWatcher::~NetworkChangeWatcher()
{
    delete m_notifier;
#ifdef Q_OS_LINUX
    if (m_descriptor >= 0)
        ::close(m_descriptor);
#endif
}

void NetworkChangeWatcher::readMessages()
{
#ifdef Q_OS_LINUX
    // What changed does not matter: the interfaces are read again as a whole. The queue is
    // emptied so that the notifier stays quiet until the next change; an overflow (ENOBUFS)
    // lost messages and counts as a change too.
    bool any = false;
    for (;;) {
        const ssize_t read = ::recv(m_descriptor, m_buffer, sizeof m_buffer, MSG_DONTWAIT);
        if (read > 0 || (read < 0 && errno == ENOBUFS)) {
            any = true;
            continue;
        }
        if (read < 0 && errno == EINTR)
            continue;
        break;
    }
    if (any)
        emit changed();
#endif
}
