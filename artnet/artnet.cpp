#include "artnet.h"

#include "artnetdiagnostics.h"
#include "artnetpackets.h"
#include "coalescingreader.h"
#include "datagramreader.h"
#include "dmxcensus.h"
#include "followedlevels.h"
#include "networkchangewatcher.h"
#include "framehistory.h"
#include "interfacelist.h"
#include "monotonicclock.h"
#include "nodetable.h"
#include "sourcelevels.h"
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
using ArtNetDiagnostics::writeOnce;
using ArtNetDiagnostics::writeOut;
using InterfaceList::plainAddress;

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
    m_censusStartNs = MonotonicClock::nowNs();
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
    // Made with the socket, so that the kernel stamps the arrival of the first datagram too.
    if (!m_datagramReader)
        m_datagramReader.reset(new DatagramReader(m_socket));
    m_datagramReader->setTap(m_datagramTap);
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

void artnet::setDatagramTap(DatagramTap *tap)
{
    m_datagramTap = tap;
    if (m_datagramReader)
        m_datagramReader->setTap(tap);
}

bool artnet::startReceiving()
{
    if (m_receiving)
        return true;
    // A capture plays without the port: another program may hold it.
    if (!openSocket() && !m_playingCapture)
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
        if (m_sourceLevels)
            m_sourceLevels->clear();
    }
    return true;
}

void artnet::forgetReceived()
{
    m_receivedLength = 0;
    if (m_historySink)
        m_historySink->clear();
    if (m_sourceLevels)
        m_sourceLevels->clear();
    if (m_timeCodeSources)
        m_timeCodeSources->clear();
    clearCensus();
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

void artnet::setSourceLevelsKept(bool keep)
{
    if (!keep) {
        m_sourceLevels.reset();
        m_chosenLevels.reset();
        return;
    }
    if (!m_sourceLevels) {
        m_sourceLevels = std::make_unique<SourceLevels>(DmxCensus::ArtNetLiveMs * 1'000'000,
                                                        Dmx::MergeTimeoutNs);
        m_chosenLevels.reset(new uchar[Dmx::MaxChannels]());
    }
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
    if (!m_datagramReader) {
        m_datagramReader.reset(new DatagramReader(m_socket));
        m_datagramReader->setTap(m_datagramTap);
    }
    // A show's consoles send datagram by datagram; under such traffic the socket is drained
    // every few milliseconds instead of at every datagram's wake-up.
    if (!m_coalescingReader) {
        m_coalescingReader.reset(new CoalescingReader(
                m_socket, m_datagramReader.get(),
                [this](const QByteArray &datagram, const QHostAddress &sender, qint64 arrivalNs) {
                    ++m_datagramsRead;
                    if (m_playingCapture) {
                        ++m_liveDatagramsDropped;
                        return;
                    }
                    handleDatagramArrivedAt(datagram, sender, arrivalNs);
                }));
    }
    m_coalescingReader->readPending();
}

void artnet::handleDatagram(const QByteArray &datagram, const QHostAddress &sender)
{
    handleDatagramArrivedAt(datagram, sender, MonotonicClock::nowNs());
}

void artnet::handleDatagramArrivedAt(const QByteArray &datagram, const QHostAddress &sender,
                                     qint64 arrivalNs)
{
    if (datagram.size() <= Header::Size) {
        countCutArtDmx(datagram, sender, arrivalNs);
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
        handleArtNetPacket(opCode, datagram, sender, arrivalNs);
    else if (std::memcmp(m_headerCopy.get() + Header::Id, MadrixId, Header::IdSize) == 0)
        handleMadrixPacket(opCode, datagram);
}

void artnet::handleArtNetPacket(quint16 opCode, const QByteArray &datagram,
                                const QHostAddress &sender, qint64 arrivalNs)
{
    switch (opCode) {
    case OpCode::Dmx: {
        DmxFrame frame;
        readArtDmx(reinterpret_cast<const uchar *>(datagram.constData()), datagram.size(),
                   sender.toIPv4Address(), &frame);
        frame.arrivalNs = arrivalNs;
        receiveFrame(frame);
        break;
    }
    case OpCode::Poll:
        if (m_pollMode && !m_playingCapture)
            answerPoll(datagram, sender);
        break;
    case OpCode::PollReply:
        writeOut("Art-Net PollReply");
        if (censusRunning())
            countPollReply(datagram, sender, arrivalNs);
        break;
    case OpCode::TimeCode:
        writeOnce(s_oneShot.artNetTimeCode, "receiving Art-Net TIMECODE ...");
        updateTimeCodeSources(datagram, plainAddress(sender), arrivalNs);
        break;
    case OpCode::SyncPre:
        syncStep(datagram, s_oneShot.artNetSyncPre, "receiving Art-Net SYNC PRE ...");
        break;
    case OpCode::SyncPost:
        syncStep(datagram, s_oneShot.artNetSyncPost, "receiving Art-Net SYNC POST ...");
        break;
    default:
        if (opCode == OpCode::Sync && censusRunning())
            m_census->recordSync(sender.toIPv4Address(), censusMs(arrivalNs));
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
void artnet::countCutArtDmx(const QByteArray &datagram, const QHostAddress &sender,
                            qint64 arrivalNs)
{
    const auto *bytes = reinterpret_cast<const uchar *>(datagram.constData());
    if (!censusRunning() || readOpCode(bytes, datagram.size()) != OpCode::Dmx
        || std::memcmp(bytes + Header::Id, ArtNetId, Header::IdSize) != 0)
        return;
    DmxFrame frame;
    readArtDmx(bytes, datagram.size(), sender.toIPv4Address(), &frame);
    frame.arrivalNs = arrivalNs;
    countFrame(frame);
}

void artnet::receiveFrame(const DmxFrame &frame)
{
    if (censusRunning())
        countFrame(frame);
    if (m_followedLevels)
        m_followedLevels->take(frame);
    // A packet cut short or lying about its length would put zeros or foreign bytes in place
    // of the console's levels; it is passed over and only counted.
    if (frame.malformed) {
        ++m_malformedDmxPassedOver;
        return;
    }
    const bool onShow = frame.universe == receiveKey();
    if (onShow && m_sourceLevels)
        m_sourceLevels->take(frame);
    if (!m_receiveBuffer)
        return;
    if (onShow) {
        std::memcpy(m_receiveBuffer.get(), frame.levels, frame.count);
        m_receivedLength = frame.count;
        if (m_historySink)
            recordHistory(frame);
    }
    // In a show most packets are for other universes; without a sink nobody takes them.
    if (m_recordBuffer)
        copyFrameToRecordBuffer(frame);
    if (m_colors)
        copyFrameToColors(frame);
}

void artnet::recordHistory(const DmxFrame &frame)
{
    const uchar *levels = m_receiveBuffer.get();
    int count = frame.count;
    if (m_historyChoice.kind != LevelChoice::Kind::LatestPacket && m_sourceLevels) {
        const qint64 nowNs = frame.arrivalNs >= 0 ? frame.arrivalNs : MonotonicClock::nowNs();
        levels = m_sourceLevels->chosen(m_historyChoice, nowNs, m_chosenLevels.get(), &count);
        if (!levels)
            return;
    }
    if (frame.arrivalNs >= 0)
        m_historySink->append(levels, quint16(count), frame.arrivalNs);
    else
        m_historySink->record(levels, quint16(count));
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
        m_interfaces->append(InterfaceList::fallbackEntry());
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
    const InterfaceList::Verdict verdict = InterfaceList::judge(entry, hardwareAddress);
    discoveryMessage(verdict.message);
    if (verdict.accepted)
        m_interfaces->append(verdict.entry);
}
