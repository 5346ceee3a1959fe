#include "artnet.h"
#include "artnetdiagnostics.h"
#include "artnetpackets.h"
#include "interfacelist.h"

#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <new>

// The engine's output: ArtDmx and its refresh, and the poll and its replies.

using namespace ArtNetPackets;
using ArtNetDiagnostics::writeOnce;
using ArtNetDiagnostics::writeOut;
using InterfaceList::plainAddress;

namespace {

// The number of universes a sink of `size` units covers at `perUniverse` units each; a sink
// without units per universe covers none.
uint universesCovered(uint size, uint perUniverse)
{
    if (perUniverse == 0)
        return 0;
    return size / perUniverse + (size % perUniverse != 0 ? 1 : 0);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// DMX output

qint64 artnet::sendDmx(const uchar *data, quint16 length, quint16 universe,
                       const QHostAddress *target)
{
    if (universe == 0)
        return 0;
    const quint16 portAddress = quint16(universe - 1);
    return sendArtDmx(data, length, quint8(portAddress & 0xFF), quint8(portAddress >> 8), target);
}

qint64 artnet::sendArtDmx(const uchar *data, quint16 length, quint8 subUni, quint8 net,
                          const QHostAddress *target)
{
    if (!startSending())
        return -1;
    if (!data || length < Dmx::MinSendChannels || length > Dmx::MaxChannels)
        return -1;
    const quint16 size = quint16(writeArtDmx(m_sendPacket, quint16(subUni | net << 8), data, length));
    chooseBroadcastTargets();
    const qint64 result = target ? sendDatagram(reinterpret_cast<const char *>(m_sendPacket), size, target)
                                 : sendToEveryNetwork(m_sendPacket, size, &m_sendNetworks);
    if (result < 0)
        return -1;
    std::memcpy(m_lastPacket.get(), m_sendPacket, size);
    m_lastPacketLength = size;
    m_haveLastPacket = true;
    if (target)
        m_sendNetworks = QStringList{target->toString()};
    return result;
}

namespace {

// The address the kernel would send a limited broadcast from (its route, usually the default
// route), or a null address when it has no route for one. Connecting a UDP socket only picks
// the route; nothing is sent.
QHostAddress limitedBroadcastSource()
{
    QUdpSocket probe;
    probe.setProxy(QNetworkProxy::NoProxy);
    probe.connectToHost(QHostAddress(QHostAddress::Broadcast), Port);
    if (probe.state() != QAbstractSocket::ConnectedState && !probe.waitForConnected(100))
        return QHostAddress();
    return plainAddress(probe.localAddress());
}

} // namespace

void artnet::chooseBroadcastTargets()
{
    m_directedBroadcasts.clear();
    m_limitedBroadcastNetworks.clear();
    m_directedNetworks.clear();
    if (!m_interfaces)
        return;
    // 255.255.255.255 leaves by one interface only; every network on that link hears it, every
    // other network is reached by its directed broadcast, so that each gets one copy.
    const QHostAddress source = limitedBroadcastSource();
    QList<QHostAddress> leavingAddresses;
    if (!source.isNull()) {
        const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
        for (const QNetworkInterface &interface : interfaces) {
            const QList<QNetworkAddressEntry> entries = interface.addressEntries();
            const bool leaving = std::any_of(entries.cbegin(), entries.cend(),
                                             [&](const QNetworkAddressEntry &e) { return e.ip() == source; });
            if (!leaving)
                continue;
            for (const QNetworkAddressEntry &e : entries)
                leavingAddresses << e.ip();
            break;
        }
        if (leavingAddresses.isEmpty())
            leavingAddresses << source;
    }
    InterfaceList::BroadcastRoutes routes = InterfaceList::broadcastRoutes(*m_interfaces, leavingAddresses);
    m_directedBroadcasts = std::move(routes.directedBroadcasts);
    m_directedNetworks = std::move(routes.directedNetworks);
    m_limitedBroadcastNetworks = std::move(routes.limitedBroadcastNetworks);
}

qint64 artnet::sendToEveryNetwork(const uchar *packet, quint16 size, QStringList *reached)
{
    if (reached)
        reached->clear();
    QList<QHostAddress> targets{QHostAddress(QHostAddress::Broadcast)};
    targets += m_directedBroadcasts;
    const qint64 sent = sendToEach(packet, size, targets, [&](int i) {
        if (!reached)
            return;
        if (i == 0)
            *reached << m_limitedBroadcastNetworks;
        else
            *reached << m_directedNetworks.at(i - 1);
    });
    return sent < 0 ? -1 : qint64(size);
}

qint64 artnet::sendToEach(const uchar *packet, int size, const QList<QHostAddress> &targets,
                          const std::function<void(int)> &left)
{
    const char *bytes = reinterpret_cast<const char *>(packet);
    // Only what actually left counts: a failed target must not reduce the byte count.
    qint64 total = 0;
    bool sent = false;
    for (int i = 0; i < targets.size(); ++i) {
        const qint64 result = sendDatagram(bytes, quint16(size), &targets.at(i));
        if (result < 0)
            continue;
        total += result;
        sent = true;
        if (left)
            left(i);
    }
    return sent ? total : -1;
}

QStringList artnet::sendNetworks() const
{
    return m_haveLastPacket ? m_sendNetworks : QStringList();
}

quint16 artnet::sendingUniverse() const
{
    if (!m_haveLastPacket)
        return 0;
    return quint16(qFromLittleEndian<quint16>(m_lastPacket.get() + Dmx::SubUni) + 1);
}

bool artnet::startSending()
{
    if (!openSocket())
        return false;
    if (m_outputRunning)
        return true;
    if (!m_lastPacket) {
        m_lastPacket.reset(new (std::nothrow) uchar[Dmx::MaxSize]);
        if (!m_lastPacket)
            return false;
        std::memset(m_lastPacket.get(), 0, Dmx::MaxSize);
        m_haveLastPacket = false;
    }
    if (!m_refreshTimer) {
        m_refreshTimer = new QTimer(this);
        connect(m_refreshTimer, &QTimer::timeout, this, &artnet::sendDataTimeout);
        m_refreshTimer->start(500);
    }
    m_outputRunning = true;
    return true;
}

void artnet::stopSending()
{
    delete m_refreshTimer;
    m_refreshTimer = nullptr;
    m_lastPacket.reset();
    m_lastPacketLength = 0;
    m_haveLastPacket = false;
    m_outputRunning = false;
    m_sendNetworks.clear();
}

qint64 artnet::sendDatagram(const char *data, quint16 length, const QHostAddress *target)
{
    if (!data)
        return -2;
    if (length == 0)
        return -3;
    if (!m_socket)
        return -1;
    return m_socket->writeDatagram(data, length, target ? *target : QHostAddress(QHostAddress::Broadcast),
                                   Port);
}

qint64 artnet::sendDataTimeout()
{
    if (!m_haveLastPacket)
        return -1;
    return sendToEveryNetwork(m_lastPacket.get(), m_lastPacketLength, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Poll and poll reply

bool artnet::setPollMode(bool on)
{
    if (on == m_pollMode)
        return on;
    if (on) {
        if (!openSocket())
            return false;
        m_pollMode = true;
        return true;
    }
    m_pollMode = false;
    return false;
}

void artnet::sendPollReply(const QHostAddress &poller)
{
    if (!startSending() || !discoverInterfaces())
        return;
    const InterfaceEntry *chosen = replyingInterface(poller.toIPv4Address());
    if (!chosen || !m_storedPoll)
        return;
    const PollReplyNode node = pollReplyNode(*chosen);
    const uint universes = pollReplyUniverses();
    const QString text = QStringLiteral("PollReply to ") + poller.toString()
                         + QStringLiteral(" from ") + chosen->address.ip().toString()
                         + QStringLiteral(" SubId ");
    // One page per four universes, numbered by BindIndex; without universes one page, no ports.
    const uint pages = std::max(1u, universes / PollReply::MaxPorts
                                            + (universes % PollReply::MaxPorts != 0 ? 1 : 0));
    for (uint index = 0; index < pages; ++index) {
        const uint first = index * PollReply::MaxPorts;
        const int size = writeArtPollReply(m_pollReply, node, m_receiveUniverse + first,
                                           std::min<uint>(universes - first, PollReply::MaxPorts),
                                           quint8(index));
        if (sendDatagram(reinterpret_cast<const char *>(m_pollReply), quint16(size), &poller) >= 0)
            writeOut(text + QString::number(index));
    }
}

const InterfaceEntry *artnet::replyingInterface(quint32 pollerIp)
{
    const InterfaceEntry *chosen = interfaceForPoller(pollerIp);
    // A poll from a network no known interface is on (the stand-in entry of a host without a
    // network matches every poller) means an interface came up or got its address since the
    // last scan; a poll flood from foreign subnets scans at most once a second.
    const bool known = chosen && chosen->address.ip().toIPv4Address() != 0;
    if (!known && (!m_pollRediscoveryClock.isValid() || m_pollRediscoveryClock.elapsed() >= 1000)) {
        m_pollRediscoveryClock.start();
        rediscoverInterfaces(); // the list is refilled even when it stays the same
        chosen = interfaceForPoller(pollerIp);
    }
    return chosen;
}

// The universes the reply announces: those of the larger sink, or the one on show while
// receiving without a sink.
uint artnet::pollReplyUniverses() const
{
    const uint count = std::max(universesCovered(m_recordBufferSize, m_universeStride),
                                universesCovered(m_colorCount, m_colorChannels));
    return (count == 0 && m_receiving) ? 1 : count;
}

PollReplyNode artnet::pollReplyNode(const InterfaceEntry &entry) const
{
    PollReplyNode node;
    node.ip = entry.address.ip().toIPv4Address();
    node.versionHi = m_versionHi;
    node.versionLo = m_versionLo;
    node.oemHi = m_oemHi;
    node.oemLo = m_oemLo;
    node.shortName = m_shortName.toLatin1();
    node.longName = m_longName.toLatin1();
    node.nodeReport = m_nodeReport.toLatin1();
    parseMacAddress(entry.hardwareAddress, node.mac);
    return node;
}

const InterfaceEntry *artnet::interfaceForPoller(quint32 pollerIp) const
{
    return InterfaceList::entryForAddress(*m_interfaces, pollerIp);
}

void artnet::parseMacAddress(QString text, uchar *mac)
{
    if (!mac)
        return;
    text.remove(QLatin1Char(':'));
    std::memset(mac, 0, PollReply::MacSize);
    if (text.isEmpty())
        return;
    for (int k = 0; k < PollReply::MacSize; ++k) {
        for (int position = 2 * k; position <= 2 * k + 1 && position < text.size(); ++position) {
            const QChar c = text.at(position);
            int digit;
            if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                digit = c.unicode() - '0';
            else if (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
                digit = c.unicode() - 'A' + 10;
            else
                continue;
            mac[k] = quint8(mac[k] * 16 + digit);
        }
    }
}

qint64 artnet::sendPoll()
{
    if (!openSocket() || !discoverInterfaces())
        return 0;
    QList<const InterfaceEntry *> from;
    const QList<QHostAddress> targets = InterfaceList::broadcastAddresses(*m_interfaces, &from);
    uchar poll[Poll::Size];
    const int size = writeArtPoll(poll);
    const qint64 sent = sendToEach(poll, size, targets, [&](int i) {
        writeOut(QStringLiteral("Poll to ") + targets.at(i).toString() + QStringLiteral(" from ")
                 + from.at(i)->address.ip().toString() + QLatin1Char('/')
                 + from.at(i)->address.netmask().toString());
    });
    return std::max<qint64>(sent, 0);
}
