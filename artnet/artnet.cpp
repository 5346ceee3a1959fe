#include "artnet.h"
#include "artnetpackets.h"
#include "coalescingreader.h"
#include "datagramreader.h"
#include "networkchangewatcher.h"
#include "framehistory.h"
#include "nodetable.h"
#include "trafficcensus.h"

#include <QColor>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

Q_LOGGING_CATEGORY(lcArtnet, "vardolux.artnet")

using namespace ArtNetPackets;

namespace {

// Messages written once per process, whatever the number of engines.
struct OneShotMessages
{
    bool artNetTimeCode = true;
    bool artNetSyncPre = true;
    bool artNetSyncPost = true;
    bool madrixSyncPre = true;
    bool madrixSyncPost = true;
};
OneShotMessages s_oneShot;

const char *const PlaceholderHardwareAddress = "00:11::22:33:44";
const char *const FallbackHardwareAddress = "00:11:22:33:44:55";

void writeOut(const char *text)
{
    std::fwrite(text, 1, std::strlen(text), stdout);
}

void writeOut(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void writeOnce(bool &flag, const char *text)
{
    if (!flag)
        return;
    flag = false;
    writeOut(text);
}

// The number of universes a sink of `size` units covers at `perUniverse` units each; a sink
// without units per universe covers none.
uint universesCovered(uint size, uint perUniverse)
{
    if (perUniverse == 0)
        return 0;
    return size / perUniverse + (size % perUniverse != 0 ? 1 : 0);
}

// The socket listens on both protocols, so IPv4 senders arrive as ::ffff:a.b.c.d; replies,
// messages and sender records use the plain IPv4 form that users and controllers know.
QHostAddress plainAddress(const QHostAddress &address)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    if (isIpv4 && address.protocol() == QAbstractSocket::IPv6Protocol)
        return QHostAddress(ipv4);
    return address;
}

} // namespace

artnet::artnet()
    : QObject(nullptr),
      m_socket(nullptr),
      m_socketOpen(false),
      m_interfacesDiscovered(false),
      m_outputRunning(false),
      m_receiving(false),
      m_lastPacketLength(0),
      m_haveLastPacket(false),
      m_receivedLength(0),
      m_receiveUniverse(0),
      m_haveTimeCode(false),
      m_refreshTimer(nullptr),
      m_recordBuffer(nullptr),
      m_recordBufferSize(0),
      m_universeStride(Dmx::MaxChannels),
      m_syncMode(0),
      m_colors(nullptr),
      m_colorCount(0),
      m_colorChannels(Dmx::MaxChannels),
      m_pollMode(false)
{
    m_oemHi = 0x00;
    m_oemLo = 0xFF;
    m_syncClock = std::make_unique<QElapsedTimer>();
    m_syncClock->start();
    m_versionHi = 0;
    m_versionLo = 0;
    m_shortName = QStringLiteral("ArtNet by Tesk");
    m_longName = QStringLiteral("ArtNet by www.vardolux.example");
    m_recordMutex = std::make_unique<QMutex>();
    std::memset(m_sendPacket, 0, sizeof m_sendPacket);
    std::memset(m_pollReply, 0, sizeof m_pollReply);
    std::memset(m_timeCode, 0, sizeof m_timeCode);
    m_censusClock.start();
    discoverInterfaces();
    m_rediscoveryTimer = new QTimer(this);
    m_rediscoveryTimer->setSingleShot(true);
    m_rediscoveryTimer->setInterval(100);
    connect(m_rediscoveryTimer, &QTimer::timeout, this, &artnet::rediscoverInterfaces);
    m_networkWatcher = new NetworkChangeWatcher(this);
    connect(m_networkWatcher, &NetworkChangeWatcher::changed, m_rediscoveryTimer,
            qOverload<>(&QTimer::start));
}

artnet::~artnet()
{
    stopNodePolling();
    if (m_outputRunning)
        stopSending();
    if (m_receiving)
        stopReceiving();
    if (m_socketOpen)
        closeSocket();
    // Waits for a reader on another thread that is still copying the record buffer.
    m_recordMutex->lock();
    m_recordMutex->unlock();
}

// The record buffer and colour sinks take the 530-byte working copy of an ArtDmx: its Length
// cut to one universe, its data from offset 18.
DmxFrame artnet::workingCopyFrame(const uchar *packet)
{
    DmxFrame frame;
    frame.universe = UniverseKey{DmxProtocol::ArtNet, dmxPortAddress(packet)};
    frame.universeKnown = true;
    frame.levels = packet + Dmx::Data;
    frame.count = quint16(dmxClampedLength(packet));
    return frame;
}

void artnet::resetOneShotMessages()
{
    s_oneShot = OneShotMessages();
}

// ---------------------------------------------------------------------------------------------
// Socket and reception

bool artnet::openSocket()
{
    if (m_socketOpen)
        return true;
    if (m_socket)
        return false;
    m_socket = new QUdpSocket(this);
    // Art-Net lives on the local show network: a desktop proxy setting must never redirect it
    // (a SOCKS relay cannot carry broadcasts), and asking for one costs a helper thread.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    m_portShared = false;
    if (!m_socket->bind(QHostAddress::Any, Port)) {
        if (!m_socket->bind(QHostAddress::Any, Port,
                            QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
            delete m_socket;
            m_socket = nullptr;
            return false;
        }
        m_portShared = true;
    }
    // Consoles send a whole show's universes in bursts; the default buffer drops some of them.
    m_socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                              QVariant(4 * 1024 * 1024));
    m_socketOpen = bool(connect(m_socket, &QUdpSocket::readyRead, this, &artnet::readArtnetPackage));
    return true;
}

void artnet::closeSocket()
{
    if (m_socket) {
        disconnect(m_socket, &QUdpSocket::readyRead, this, &artnet::readArtnetPackage);
        m_coalescingReader.reset(); // its timer and notifier belong to this socket
        m_socket->close();
        delete m_socket;
        m_socket = nullptr;
    }
    m_socketOpen = false;
}

bool artnet::startReceiving()
{
    if (m_receiving)
        return true;
    if (!openSocket())
        return false;
    if (!m_receiveBuffer) {
        m_receiveBuffer.reset(new uchar[Dmx::MaxChannels]);
        std::memset(m_receiveBuffer.get(), 0, Dmx::MaxChannels);
    }
    makeCensus();
    m_receiving = true;
    return true;
}

void artnet::stopReceiving()
{
    if (m_receiveBuffer) {
        m_receiveBuffer.reset();
        m_receivedLength = 0;
    }
    m_receiving = false;
    if (m_historySink)
        m_historySink->clear();
}

bool artnet::setReceiveUniverse(quint16 universe)
{
    if (universe == 0)
        return false;
    const quint16 portAddress = quint16(universe - 1);
    if (portAddress != m_receiveUniverse) {
        m_receiveUniverse = portAddress;
        m_receivedLength = 0;
        if (m_historySink)
            m_historySink->clear();
    }
    return true;
}

void artnet::setFrameHistoryKept(bool keep)
{
    if (keep && !m_frameHistory)
        m_frameHistory.reset(new FrameHistory);
    // Frames missed while it was off would read as a gap that never happened.
    if (!keep && m_frameHistory)
        m_frameHistory->clear();
    m_historySink = keep ? m_frameHistory.get() : nullptr;
}

bool artnet::readUniverse(uchar *buffer, quint16 *length)
{
    if (!startReceiving() || !buffer || !length || *length == 0)
        return false;
    if (*length > m_receivedLength)
        *length = m_receivedLength;
    std::memcpy(buffer, m_receiveBuffer.get(), *length);
    return true;
}

void artnet::readArtnetPackage()
{
    if (!m_socket)
        return;
    // Reading datagram by datagram through QUdpSocket costs three system calls each, too many
    // for a show's worth of universes; the reader takes them in batches. Datagrams longer than
    // its 2048-byte slots arrive cut, which changes nothing: no packet handled here is read
    // beyond its 530th byte.
    if (!m_datagramReader)
        m_datagramReader.reset(new DatagramReader(m_socket));
    // A show's consoles send datagram by datagram; under such traffic the socket is drained
    // every few milliseconds instead of at every datagram's wake-up.
    if (!m_coalescingReader) {
        m_coalescingReader.reset(new CoalescingReader(
                m_socket, m_datagramReader.get(),
                [this](const QByteArray &datagram, const QHostAddress &sender) {
                    ++m_datagramsRead;
                    handleDatagram(datagram, sender);
                }));
    }
    if (m_census)
        m_censusNowMs = m_censusClock.elapsed();
    m_coalescingReader->readPending();
}

void artnet::handleDatagram(const QByteArray &datagram, const QHostAddress &sender)
{
    if (datagram.size() <= Header::Size) {
        countCutArtDmx(datagram, sender);
        return;
    }
    if (!m_headerCopy) {
        m_headerCopy.reset(new (std::nothrow) uchar[Dmx::MaxSize]);
        if (!m_headerCopy)
            return;
    }
    std::memcpy(m_headerCopy.get(), datagram.constData(), Header::Size);
    const quint16 opCode = readOpCode(m_headerCopy.get(), Header::Size);

    if (std::memcmp(m_headerCopy.get() + Header::Id, ArtNetId, Header::IdSize) == 0)
        handleArtNetPacket(opCode, datagram, sender);
    else if (std::memcmp(m_headerCopy.get() + Header::Id, MadrixId, Header::IdSize) == 0)
        handleMadrixPacket(opCode, datagram);
}

void artnet::handleArtNetPacket(quint16 opCode, const QByteArray &datagram,
                                const QHostAddress &sender)
{
    switch (opCode) {
    case OpCode::Dmx: {
        DmxFrame frame;
        readArtDmx(reinterpret_cast<const uchar *>(datagram.constData()), datagram.size(),
                   sender.toIPv4Address(), &frame);
        receiveFrame(frame);
        break;
    }
    case OpCode::Poll:
        if (m_pollMode)
            answerPoll(datagram, sender);
        break;
    case OpCode::PollReply:
        writeOut("Art-Net PollReply");
        if (censusRunning())
            countPollReply(datagram, sender);
        break;
    case OpCode::TimeCode:
        writeOnce(s_oneShot.artNetTimeCode, "receiving Art-Net TIMECODE ...");
        updateTimeCodeSources(datagram, plainAddress(sender));
        break;
    case OpCode::SyncPre:
        syncStep(datagram, s_oneShot.artNetSyncPre, "receiving Art-Net SYNC PRE ...");
        break;
    case OpCode::SyncPost:
        syncStep(datagram, s_oneShot.artNetSyncPost, "receiving Art-Net SYNC POST ...");
        break;
    default:
        if (opCode == OpCode::Sync && censusRunning())
            m_census->recordSync(sender.toIPv4Address(), m_censusClock.elapsed());
        writeOut(QStringLiteral("receive not implemented OpCode at time 0x")
                 + QString::number(opCode, 16).toUpper() + QLatin1Char('\n'));
        break;
    }
}

void artnet::handleMadrixPacket(quint16 opCode, const QByteArray &datagram)
{
    switch (opCode) {
    case OpCode::SyncPre:
        syncStep(datagram, s_oneShot.madrixSyncPre, "receiving MadrixN SYNC PRE ...");
        qCDebug(lcArtnet, "MadrixN SYNC PRE ");
        break;
    case OpCode::SyncPost:
        syncStep(datagram, s_oneShot.madrixSyncPost, "receiving MadrixN SYNC POST ...");
        break;
    default:
        break;
    }
}

void artnet::answerPoll(const QByteArray &datagram, const QHostAddress &sender)
{
    if (!m_storedPoll) {
        m_storedPoll.reset(new (std::nothrow) uchar[Poll::Size]);
        if (!m_storedPoll)
            return;
    }
    std::memset(m_storedPoll.get(), 0, Poll::Size);
    std::memcpy(m_storedPoll.get(), datagram.constData(),
                size_t(std::min<qsizetype>(datagram.size(), Poll::Size)));
    sendPollReply(plainAddress(sender));
}

bool artnet::isWholeArtDmx(const QByteArray &datagram)
{
    return ArtNetPackets::isWholeArtDmx(reinterpret_cast<const uchar *>(datagram.constData()),
                                        datagram.size());
}

// A datagram of 10 to 12 bytes that carries the identifier and the ArtDmx opcode is too short
// to be handled, but the census shows its sender sent a malformed ArtDmx.
void artnet::countCutArtDmx(const QByteArray &datagram, const QHostAddress &sender)
{
    const auto *bytes = reinterpret_cast<const uchar *>(datagram.constData());
    if (!censusRunning() || readOpCode(bytes, datagram.size()) != OpCode::Dmx
        || std::memcmp(bytes + Header::Id, ArtNetId, Header::IdSize) != 0)
        return;
    DmxFrame frame;
    readArtDmx(bytes, datagram.size(), sender.toIPv4Address(), &frame);
    countFrame(frame);
}

void artnet::receiveFrame(const DmxFrame &frame)
{
    if (censusRunning())
        countFrame(frame);
    // A packet cut short or lying about its length would put zeros or foreign bytes in place
    // of the console's levels; it is passed over and only counted.
    if (frame.malformed) {
        ++m_malformedDmxPassedOver;
        return;
    }
    if (!m_receiveBuffer)
        return;
    if (frame.universe == receiveKey()) {
        std::memcpy(m_receiveBuffer.get(), frame.levels, frame.count);
        m_receivedLength = frame.count;
        if (m_historySink) {
            if (frame.arrivalNs >= 0)
                m_historySink->append(m_receiveBuffer.get(), frame.count, frame.arrivalNs);
            else
                m_historySink->record(m_receiveBuffer.get(), frame.count);
        }
    }
    copyFrameToRecordBuffer(frame);
    copyFrameToColors(frame);
}

QString artnet::interfaceAddress(int index) const
{
    if (index < 0 || !m_interfaces || index >= m_interfaces->size())
        return QString();
    return m_interfaces->at(index).address.ip().toString();
}

// ---------------------------------------------------------------------------------------------
// Interface discovery

bool artnet::discoverInterfaces()
{
    if (m_interfacesDiscovered)
        return true;
    if (!m_interfaces)
        m_interfaces = std::make_unique<QList<InterfaceEntry>>();
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries)
            addressEntryFound(entry, interface.hardwareAddress());
    }
    if (m_interfaces->isEmpty())
        m_interfaces->append(InterfaceEntry{QNetworkAddressEntry(),
                                            QString::fromLatin1(FallbackHardwareAddress)});
    m_interfacesDiscovered = true;
    return true;
}

bool artnet::rediscoverInterfaces()
{
    if (!m_interfacesDiscovered || !m_interfaces)
        return discoverInterfaces();
    const QList<InterfaceEntry> previous = *m_interfaces;
    QString messages;
    m_discoveryMessages = &messages;
    m_interfaces->clear();
    m_interfacesDiscovered = false;
    discoverInterfaces();
    m_discoveryMessages = nullptr;
    const bool changed = !std::equal(previous.cbegin(), previous.cend(), m_interfaces->cbegin(),
                                     m_interfaces->cend(),
                                     [](const InterfaceEntry &a, const InterfaceEntry &b) {
                                         return a.address == b.address
                                                 && a.hardwareAddress == b.hardwareAddress;
                                     });
    if (changed)
        writeOut(messages);
    return changed;
}

void artnet::discoveryMessage(const QString &text)
{
    if (m_discoveryMessages)
        m_discoveryMessages->append(text);
    else
        writeOut(text);
}

void artnet::addressEntryFound(const QNetworkAddressEntry &entry, const QString &hardwareAddress)
{
    const QHostAddress ip = entry.ip();
    const QString ipText = ip.toString();
    const QAbstractSocket::NetworkLayerProtocol protocol = ip.protocol();
    if (protocol == QAbstractSocket::IPv6Protocol) {
        discoveryMessage(QStringLiteral("found IpV6 - ") + ipText + QStringLiteral(" dont' use it"));
        return;
    }
    if (protocol != QAbstractSocket::IPv4Protocol) {
        discoveryMessage(QStringLiteral("found unknown Ip - ") + ipText + QStringLiteral(" dont' use it"));
        return;
    }
    if (ip == QHostAddress(QHostAddress::Null) || ip == QHostAddress(QHostAddress::LocalHost)
        || ip == QHostAddress(QHostAddress::LocalHostIPv6)
        || ip == QHostAddress(QHostAddress::Broadcast) || ip == QHostAddress(QHostAddress::Any)
        || ip == QHostAddress(QHostAddress::AnyIPv4)
        || ip == QHostAddress(QHostAddress::AnyIPv6)) {
        discoveryMessage(QStringLiteral("found IpV4 - ") + ipText + QStringLiteral(" do not use it"));
        return;
    }
    const QString summary = QStringLiteral("found IpV4 - %1  Mask: %2 Broad: %3")
                                .arg(ipText, entry.netmask().toString(),
                                     entry.broadcast().toString());
    if (entry.netmask().toIPv4Address() == 0) {
        discoveryMessage(summary + QStringLiteral("don't add because invalid netmask"));
        return;
    }
    if (entry.broadcast().toIPv4Address() == 0) {
        discoveryMessage(summary + QStringLiteral("don't add because invalid broadcast"));
        return;
    }
    const QString hardware = hardwareAddress.isEmpty()
                                 ? QString::fromLatin1(PlaceholderHardwareAddress)
                                 : hardwareAddress;
    discoveryMessage(summary + QStringLiteral("add to send/receive list with") + hardware);
    m_interfaces->append(InterfaceEntry{entry, hardware});
}

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

QString networkText(const QNetworkAddressEntry &entry)
{
    const quint32 netmask = entry.netmask().toIPv4Address();
    return QHostAddress(entry.ip().toIPv4Address() & netmask).toString() + QLatin1Char('/')
            + QString::number(entry.prefixLength());
}

// The broadcast address of every interface entry that has one, with the entry in *owners: the
// stand-in entry of a host without a network has 0.0.0.0, which only reaches this host.
QList<QHostAddress> broadcastAddresses(const QList<InterfaceEntry> &interfaces,
                                       QList<const InterfaceEntry *> *owners = nullptr)
{
    QList<QHostAddress> addresses;
    for (const InterfaceEntry &entry : interfaces) {
        const QHostAddress broadcast = entry.address.broadcast();
        if (broadcast.toIPv4Address() == 0)
            continue;
        addresses << broadcast;
        if (owners)
            *owners << &entry;
    }
    return addresses;
}

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
    for (const InterfaceEntry &entry : std::as_const(*m_interfaces)) {
        const QHostAddress ip = entry.address.ip();
        const QHostAddress broadcast = entry.address.broadcast();
        // The stand-in entry of a host without a network, loopback and a host route of one
        // address reach no other host.
        if (broadcast.toIPv4Address() == 0 || ip.isLoopback() || broadcast == ip)
            continue;
        const QString network = networkText(entry.address);
        if (leavingAddresses.contains(ip)) {
            if (!m_limitedBroadcastNetworks.contains(network))
                m_limitedBroadcastNetworks << network;
            continue;
        }
        if (m_directedBroadcasts.contains(broadcast))
            continue;
        m_directedBroadcasts << broadcast;
        m_directedNetworks << network;
    }
    if (m_limitedBroadcastNetworks.isEmpty())
        m_limitedBroadcastNetworks << QHostAddress(QHostAddress::Broadcast).toString();
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
    for (const InterfaceEntry &entry : std::as_const(*m_interfaces)) {
        const quint32 netmask = entry.address.netmask().toIPv4Address();
        if ((pollerIp & netmask) == (entry.address.ip().toIPv4Address() & netmask))
            return &entry;
    }
    return nullptr;
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
    const QList<QHostAddress> targets = broadcastAddresses(*m_interfaces, &from);
    uchar poll[Poll::Size];
    const int size = writeArtPoll(poll);
    const qint64 sent = sendToEach(poll, size, targets, [&](int i) {
        writeOut(QStringLiteral("Poll to ") + targets.at(i).toString() + QStringLiteral(" from ")
                 + from.at(i)->address.ip().toString() + QLatin1Char('/')
                 + from.at(i)->address.netmask().toString());
    });
    return std::max<qint64>(sent, 0);
}

// ---------------------------------------------------------------------------------------------
// Time code, sync and data sinks

void artnet::setRecordBuffer(uchar *buffer, uint size, quint16 universeStride)
{
    if (buffer) {
        if (!startReceiving())
            return;
        std::unique_ptr<uchar[]> staging(new (std::nothrow) uchar[size]());
        if (!staging)
            return;
        QMutexLocker locker(m_recordMutex.get());
        m_recordBuffer = buffer;
        m_recordBufferSize = size;
        m_universeStride = universeStride;
        m_stagingBuffer = std::move(staging);
    } else {
        QMutexLocker locker(m_recordMutex.get());
        m_recordBuffer = nullptr;
        m_recordBufferSize = 0;
        m_universeStride = Dmx::MaxChannels;
        m_stagingBuffer.reset();
    }
}

void artnet::recordBuffer(uchar **buffer, uint *size) const
{
    if (buffer)
        *buffer = m_recordBuffer;
    if (size)
        *size = m_recordBufferSize;
}

bool artnet::copyRecordBuffer(uchar *out, uint size) const
{
    if (!out)
        return false;
    QMutexLocker locker(m_recordMutex.get());
    if (!m_recordBuffer)
        return false;
    std::memcpy(out, m_recordBuffer, std::min(size, m_recordBufferSize));
    return true;
}

void artnet::setColorTarget(QColor *colors, uint count, quint16 channelsPerUniverse)
{
    if (colors) {
        if (!startReceiving())
            return;
        m_colors = colors;
        m_colorCount = count;
        m_colorChannels = channelsPerUniverse;
    } else {
        m_colors = nullptr;
        m_colorCount = 0;
        m_colorChannels = Dmx::MaxChannels;
    }
}

// Each family's sync packets announce themselves once per process.
void artnet::syncStep(const QByteArray &datagram, bool &announce, const char *announcement)
{
    writeOnce(announce, announcement);
    m_syncMode = qint16(qint8(quint8(datagram.at(Sync::Value))));
    applySync();
}

void artnet::applySync()
{
    m_syncClock->restart();
    QMutexLocker locker(m_recordMutex.get());
    if (m_stagingBuffer && m_recordBufferSize != 0 && m_recordBuffer)
        std::memcpy(m_recordBuffer, m_stagingBuffer.get(), m_recordBufferSize);
}

void artnet::updateTimeCodeSources(const QByteArray &datagram, const QHostAddress &sender)
{
    const auto *bytes = reinterpret_cast<const uchar *>(datagram.constData());
    if (!m_timeCodeSources)
        m_timeCodeSources = std::make_unique<QList<TimeCodeSource>>();
    bool matched = false;
    for (TimeCodeSource &source : *m_timeCodeSources) {
        if (source.sender != sender)
            continue;
        readArtTimeCode(bytes, datagram.size(), &source);
        matched = true;
    }
    if (matched)
        return;
    TimeCodeSource source;
    readArtTimeCode(bytes, datagram.size(), &source);
    source.sender = sender;
    m_timeCodeSources->append(source);
    m_haveTimeCode = true;
}

bool artnet::timeCodeSource(TimeCodeSource *source, QHostAddress *sender, int index)
{
    if (!source || !openSocket() || !m_haveTimeCode || !m_timeCodeSources || index < 0
        || index >= m_timeCodeSources->size())
        return false;
    const TimeCodeSource &record = m_timeCodeSources->at(index);
    source->frames = record.frames;
    source->seconds = record.seconds;
    source->minutes = record.minutes;
    source->hours = record.hours;
    source->type = record.type;
    if (sender)
        *sender = record.sender;
    return true;
}

qint64 artnet::sendTimeCode(const quint8 *timeCode, const QHostAddress *target)
{
    if (!timeCode || !startSending() || !discoverInterfaces())
        return -1;
    const int size = writeArtTimeCode(m_timeCode, timeCode);
    if (target)
        return sendDatagram(reinterpret_cast<const char *>(m_timeCode), quint16(size), target);
    return sendToEach(m_timeCode, size, broadcastAddresses(*m_interfaces), {});
}

void artnet::copyIntoRecordTarget(uchar *target, uint start, const uchar *data, uint count) const
{
    const uint slotWidth = m_universeStride > uint(Dmx::MaxChannels - 1) ? uint(Dmx::MaxChannels)
                                                                        : uint(m_universeStride);
    const uint end = start + slotWidth;
    if (end < m_recordBufferSize)
        std::memcpy(target + start, data, count);
    else if (start < m_recordBufferSize)
        std::memcpy(target + start, data, std::min(count, m_recordBufferSize - start));
}

void artnet::copyToRecordBuffer(const uchar *packet)
{
    if (packet)
        copyFrameToRecordBuffer(workingCopyFrame(packet));
}

void artnet::copyToColors(const uchar *packet)
{
    if (packet)
        copyFrameToColors(workingCopyFrame(packet));
}

void artnet::copyFrameToRecordBuffer(const DmxFrame &frame)
{
    if (!m_recordBuffer || m_recordBufferSize == 0 || frame.universe.protocol != DmxProtocol::ArtNet)
        return;
    const uint portAddress = frame.universe.number;
    if (portAddress < m_receiveUniverse)
        return;
    const uint slot = portAddress - m_receiveUniverse;
    const uint count = std::min<uint>(frame.count, m_universeStride);
    const uint start = m_universeStride > uint(Dmx::MaxChannels - 1) ? slot * Dmx::MaxChannels
                                                                    : slot * m_universeStride;
    const uchar *data = frame.levels;

    if (m_syncMode != 0 && m_syncClock->elapsed() > 3000)
        m_syncMode = 0;
    if (m_syncMode != 0) {
        if (!m_stagingBuffer) {
            m_stagingBuffer.reset(new (std::nothrow) uchar[m_recordBufferSize]());
            if (!m_stagingBuffer)
                return;
        }
        copyIntoRecordTarget(m_stagingBuffer.get(), start, data, count);
    } else {
        QMutexLocker locker(m_recordMutex.get());
        copyIntoRecordTarget(m_recordBuffer, start, data, count);
    }
}

void artnet::copyFrameToColors(const DmxFrame &frame)
{
    if (!m_colors || m_colorCount == 0 || frame.universe.protocol != DmxProtocol::ArtNet)
        return;
    const uint portAddress = frame.universe.number;
    const uint length = frame.count;
    const uint perUniverse = m_colorChannels / 3;
    const uint width = perUniverse > uint(Dmx::MaxChannels - 1) ? uint(Dmx::MaxChannels) : perUniverse;
    if (width == 0 || length == 0)
        return;
    const uint first = portAddress * width;
    const uint end = std::min(first + width, m_colorCount);
    const uchar *data = frame.levels;
    uint j = 0;
    for (uint colour = first; colour < end && j < length; ++colour) {
        QColor &target = m_colors[colour];
        target.setRed(data[j++]);
        if (j < length)
            target.setGreen(data[j++]);
        if (j < length)
            target.setBlue(data[j++]);
    }
}

// ---------------------------------------------------------------------------------------------
// Traffic census and node list

void artnet::makeCensus()
{
    if (!m_census)
        m_census.reset(new TrafficCensus);
    if (!m_nodeTable)
        m_nodeTable.reset(new NodeTable);
}

bool artnet::setCensusEnabled(bool on)
{
    if (!on) {
        m_censusEnabled = false;
        return false;
    }
    if (!openSocket())
        return false;
    makeCensus();
    m_censusEnabled = true;
    return true;
}

bool artnet::startNodePolling()
{
    if (!openSocket())
        return false;
    makeCensus();
    m_nodePolling = true;
    if (!m_pollTimer) {
        m_pollTimer = new QTimer(this);
        connect(m_pollTimer, &QTimer::timeout, this, &artnet::pollNodes);
        m_pollTimer->start(3000);
        pollNodes();
    }
    return true;
}

void artnet::stopNodePolling()
{
    delete m_pollTimer;
    m_pollTimer = nullptr;
    m_nodePolling = false;
}

void artnet::pollNodes()
{
    m_nodeTable->pollSent();
    sendPoll();
}

void artnet::clearCensus()
{
    if (m_census)
        m_census->clear();
    if (m_nodeTable)
        m_nodeTable->clear();
}

void artnet::forgetSilent()
{
    if (m_census)
        m_census->forgetSilent(censusClockMs());
    if (m_nodeTable)
        m_nodeTable->forgetGone();
}

void artnet::countFrame(const DmxFrame &frame)
{
    // Reading the clock costs as much as the counting; within a drain a few ms are enough.
    if ((++m_censusPackets & 63) == 0)
        m_censusNowMs = m_censusClock.elapsed();
    m_census->recordFrame(frame, m_censusNowMs);
}

void artnet::countPollReply(const QByteArray &datagram, const QHostAddress &sender)
{
    const quint32 source = sender.toIPv4Address();
    bool self = false;
    if (m_interfaces) {
        for (const InterfaceEntry &entry : std::as_const(*m_interfaces))
            self = self || (source != 0 && entry.address.ip().toIPv4Address() == source);
    }
    m_nodeTable->recordReply(reinterpret_cast<const uchar *>(datagram.constData()),
                             int(datagram.size()), source, m_censusClock.elapsed(), self);
}

qint64 artnet::censusClockMs() const
{
    return m_censusClock.elapsed();
}

QList<UniverseTraffic> artnet::universeTraffic() const
{
    return m_census ? m_census->universes(censusClockMs()) : QList<UniverseTraffic>();
}

QList<DmxSource> artnet::dmxSources(quint16 portAddress) const
{
    return m_census ? m_census->sources(portAddress, censusClockMs()) : QList<DmxSource>();
}

quint64 artnet::unstoredSources() const
{
    return m_census ? m_census->unstoredSources() : 0;
}

quint64 artnet::unlistedUniverses() const
{
    return m_census ? m_census->unlistedUniverses() : 0;
}

quint64 artnet::malformedDmx() const
{
    return m_census ? m_census->malformedDmx() : 0;
}

quint64 artnet::malformedDmxWithoutSource() const
{
    return m_census ? m_census->malformedWithoutSource() : 0;
}

QList<NodeInfo> artnet::nodes() const
{
    return m_nodeTable ? m_nodeTable->nodes() : QList<NodeInfo>();
}

quint64 artnet::malformedPollReplies() const
{
    return m_nodeTable ? m_nodeTable->malformedReplies() : 0;
}

quint64 artnet::unstoredNodes() const
{
    return m_nodeTable ? m_nodeTable->unstoredReplies() : 0;
}
