#include "sacnreceiver.h"

#include "coalescingreader.h"
#include "datagramreader.h"
#include "dmxcensus.h"
#include "followedlevels.h"
#include "framehistory.h"
#include "monotonicclock.h"
#include "multicastinterfaces.h"
#include "networkchangewatcher.h"
#include "sacnmerge.h"
#include "sacnmessage.h"
#include "sacnpackets.h"
#include "sacnsourcetable.h"
#include "sourcelevels.h"

#include <QNetworkProxy>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

#include <algorithm>
#include <array>
#include <cstring>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <sys/socket.h>
#endif

SacnReceiver::SacnReceiver(QObject *parent)
    : QObject(parent),
      m_census(new DmxCensus),
      m_sources(new SacnSourceTable),
      m_mergedLevels(new uchar[DmxFrame::MaxChannels]()),
      m_sourceLevels(new SourceLevels(SacnMerge::SourceLossNs, SacnMerge::SourceLossNs)),
      m_discoveredSlot(new quint16[65536]()),
      m_discovered(new DiscoveredUniverse[MaxDiscoveredUniverses]),
      m_censusStartNs(MonotonicClock::nowNs())
{
    m_announcementTimer = new QTimer(this);
    m_announcementTimer->setInterval(1000);
    connect(m_announcementTimer, &QTimer::timeout, this,
            [this] { forgetUnannouncedUniverses(censusClockMs()); });
    m_announcementTimer->start();
    m_rejoinTimer = new QTimer(this);
    m_rejoinTimer->setSingleShot(true);
    m_rejoinTimer->setInterval(100);
    connect(m_rejoinTimer, &QTimer::timeout, this, &SacnReceiver::rejoin);
    m_networkWatcher = new NetworkChangeWatcher(this);
    connect(m_networkWatcher, &NetworkChangeWatcher::changed, m_rejoinTimer,
            qOverload<>(&QTimer::start));
}

SacnReceiver::~SacnReceiver()
{
    close();
}

bool SacnReceiver::open()
{
    if (m_socket)
        return true;
    auto *socket = new QUdpSocket(this);
    // sACN lives on the local show network: no desktop proxy may redirect it.
    socket->setProxy(QNetworkProxy::NoProxy);
    m_portShared = false;
    if (!socket->bind(QHostAddress::AnyIPv4, SacnPackets::Port)) {
        if (!socket->bind(QHostAddress::AnyIPv4, SacnPackets::Port,
                          QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
            delete socket;
            return false;
        }
        m_portShared = true;
    }
    // A console sends a show's universes in bursts; the default buffer drops some of them.
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                            QVariant(4 * 1024 * 1024));
#ifdef Q_OS_LINUX
    // The groups are joined on other sockets: this one must hear every group the host joined,
    // which is Linux's default; said here so that no other default can take it away.
    const int all = 1;
    ::setsockopt(int(socket->socketDescriptor()), IPPROTO_IP, IP_MULTICAST_ALL, &all, sizeof all);
#endif
    m_socket = socket;
    m_reader = std::make_unique<DatagramReader>(m_socket);
    m_reader->setTap(m_datagramTap);
    m_coalescingReader = std::make_unique<CoalescingReader>(
            m_socket, m_reader.get(),
            [this](const QByteArray &datagram, const QHostAddress &sender, qint64 arrivalNs) {
                ++m_datagramsRead;
                if (m_playingCapture) {
                    ++m_liveDatagramsDropped;
                    return;
                }
                handleDatagram(datagram, sender, arrivalNs);
            });
    connect(m_socket, &QUdpSocket::readyRead, this, &SacnReceiver::readPending);
    m_memberships.setInterfaces(multicastInterfaces());
    updateGroups();
    return true;
}

void SacnReceiver::setDatagramTap(DatagramTap *tap)
{
    m_datagramTap = tap;
    if (m_reader)
        m_reader->setTap(tap);
}

void SacnReceiver::close()
{
    m_memberships.leaveAll();
    m_coalescingReader.reset(); // its timer and notifier belong to the socket
    m_reader.reset();
    delete m_socket;
    m_socket = nullptr;
}

void SacnReceiver::readPending()
{
    if (m_coalescingReader)
        m_coalescingReader->readPending();
}

// None leaves the choice to the kernel's routes.
QList<MulticastMemberships::Interface> SacnReceiver::multicastInterfaces()
{
    QList<MulticastMemberships::Interface> interfaces;
    const QList<MulticastInterfaces::Address> addresses = MulticastInterfaces::addresses();
    for (const MulticastInterfaces::Address &address : addresses)
        interfaces.append({address.index, address.address});
    return interfaces;
}

void SacnReceiver::rejoin()
{
    if (m_socket)
        m_memberships.setInterfaces(multicastInterfaces());
}

// ---------------------------------------------------------------------------------------------
// What is followed

bool SacnReceiver::isFollowed(quint16 universe) const
{
    return universe == SacnPackets::DiscoveryUniverse || universe == m_universeOnShow
            || m_watched.test(universe) || m_discoveredSlot[universe] != 0;
}

void SacnReceiver::updateGroups()
{
    if (!m_socket || m_playingCapture)
        return;
    for (int universe = SacnPackets::MinUniverse; universe <= SacnPackets::DiscoveryUniverse;
         ++universe) {
        if (universe > SacnPackets::MaxUniverse && universe != SacnPackets::DiscoveryUniverse)
            continue;
        const quint32 group = groupOf(quint16(universe));
        const bool followed = isFollowed(quint16(universe));
        if (followed && !m_memberships.isJoined(group))
            m_memberships.join(group);
        else if (!followed && m_memberships.isJoined(group))
            m_memberships.leave(group);
    }
}

void SacnReceiver::setUniverseOnShow(quint16 universe)
{
    if (universe > SacnPackets::MaxUniverse)
        universe = 0;
    if (universe == m_universeOnShow)
        return;
    m_universeOnShow = universe;
    m_merge.reset(universe ? new SacnMerge(universe) : nullptr);
    if (m_merge)
        m_merge->setAcceptPreview(m_previewAccepted);
    m_sourceLevels->clear();
    if (m_historySink)
        m_historySink->clear();
    updateGroups();
}

void SacnReceiver::setPreviewAccepted(bool accept)
{
    m_previewAccepted = accept;
    if (m_merge)
        m_merge->setAcceptPreview(accept);
}

void SacnReceiver::setWatchList(const QList<quint16> &universes)
{
    m_watched.reset();
    m_watchedCount = 0;
    for (const quint16 universe : universes) {
        if (m_watchedCount == MaxWatchedUniverses)
            break;
        if (universe < SacnPackets::MinUniverse || universe > SacnPackets::MaxUniverse
            || m_watched.test(universe))
            continue;
        m_watched.set(universe);
        ++m_watchedCount;
    }
    updateGroups();
}

QList<quint16> SacnReceiver::watchList() const
{
    QList<quint16> list;
    list.reserve(m_watchedCount);
    for (int universe = SacnPackets::MinUniverse; universe <= SacnPackets::MaxUniverse; ++universe)
        if (m_watched.test(size_t(universe)))
            list.append(quint16(universe));
    return list;
}

QList<quint16> SacnReceiver::discoveredUniverses() const
{
    QList<quint16> list;
    list.reserve(m_discoveredCount);
    for (int universe = SacnPackets::MinUniverse; universe <= SacnPackets::MaxUniverse; ++universe)
        if (m_discoveredSlot[universe] != 0)
            list.append(quint16(universe));
    return list;
}

QList<quint16> SacnReceiver::announcedSilentUniverses() const
{
    return announcedSilentUniverses(censusClockMs());
}

QList<quint16> SacnReceiver::announcedSilentUniverses(qint64 nowMs) const
{
    QList<quint16> list;
    for (int slot = 0; slot < m_discoveredCount; ++slot) {
        const DiscoveredUniverse &discovered = m_discovered[slot];
        if (nowMs - discovered.announcedMs >= AnnouncementKeptMs)
            continue;
        const std::optional<qint64> levelsMs =
                m_census->lastSeenMs(UniverseKey{DmxProtocol::Sacn, discovered.universe});
        if (!levelsMs || nowMs - *levelsMs >= DmxCensus::SacnLiveMs)
            list.append(discovered.universe);
    }
    std::sort(list.begin(), list.end());
    return list;
}

void SacnReceiver::forgetDiscoveredUniverses()
{
    for (int slot = 0; slot < m_discoveredCount; ++slot)
        m_discoveredSlot[m_discovered[slot].universe] = 0;
    m_discoveredCount = 0;
    m_unlearntUniverses = 0;
    updateGroups();
}

// The last slot moves into the one that is freed, so the slots in use stay 0 to count - 1.
void SacnReceiver::forgetUnannouncedUniverses(qint64 nowMs)
{
    for (int slot = m_discoveredCount - 1; slot >= 0; --slot) {
        const DiscoveredUniverse gone = m_discovered[slot];
        if (nowMs - gone.announcedMs < AnnouncementKeptMs)
            continue;
        m_discoveredSlot[gone.universe] = 0;
        if (--m_discoveredCount != slot) {
            m_discovered[slot] = m_discovered[m_discoveredCount];
            m_discoveredSlot[m_discovered[slot].universe] = quint16(slot + 1);
        }
        if (m_socket && !isFollowed(gone.universe))
            m_memberships.leave(groupOf(gone.universe));
    }
}

void SacnReceiver::learnUniverses(const SacnMessage &message, qint64 nowMs)
{
    for (int i = 0; i < message.universeCount; ++i) {
        const quint16 universe = message.discoveryUniverse(i);
        if (universe < SacnPackets::MinUniverse || universe > SacnPackets::MaxUniverse)
            continue;
        if (const quint16 known = m_discoveredSlot[universe]) {
            m_discovered[known - 1].announcedMs = std::max(m_discovered[known - 1].announcedMs, nowMs);
            continue;
        }
        if (m_discoveredCount == MaxDiscoveredUniverses) {
            ++m_unlearntUniverses;
            continue;
        }
        m_discovered[m_discoveredCount] = DiscoveredUniverse{universe, nowMs};
        m_discoveredSlot[universe] = quint16(++m_discoveredCount);
        if (m_socket && !m_playingCapture)
            m_memberships.join(groupOf(universe));
    }
}

// ---------------------------------------------------------------------------------------------
// Reception

void SacnReceiver::handleDatagram(const QByteArray &datagram, const QHostAddress &sender,
                                  qint64 arrivalNs)
{
    SacnMessage message;
    SacnPackets::readDatagram(reinterpret_cast<const uchar *>(datagram.constData()),
                              datagram.size(), sender.toIPv4Address(), arrivalNs, &message);
    const qint64 nowMs = censusMs(arrivalNs);
    switch (message.kind) {
    case SacnMessage::Kind::Malformed:
        m_census->recordFrame(message.frame, nowMs);
        break;
    case SacnMessage::Kind::Data:
        takeData(message, nowMs);
        break;
    case SacnMessage::Kind::Sync:
        m_census->recordSync(message.frame.source.address, nowMs);
        break;
    case SacnMessage::Kind::Discovery:
        learnUniverses(message, nowMs);
        break;
    }
}

void SacnReceiver::takeData(const SacnMessage &message, qint64 nowMs)
{
    // The census counts DMX levels; per-address priority and other start codes are the
    // source table's.
    if (message.startCode == SacnMessage::StartCodeLevels) {
        m_census->recordFrame(message.frame, nowMs);
        // Preview data is for a desk's own preview screens, not what the lights show.
        if (m_followedLevels && !message.preview())
            m_followedLevels->take(message.frame);
    }
    m_sources->record(message, nowMs);
    if (m_merge && message.frame.universe.number == m_universeOnShow)
        takeShown(message);
}

void SacnReceiver::takeShown(const SacnMessage &message)
{
    const SacnMerge::Outcome outcome = m_merge->take(message);
    if (outcome == SacnMerge::Outcome::Terminated)
        m_sourceLevels->forget(message.frame.source);
    if (outcome != SacnMerge::Outcome::Taken)
        return;
    if (message.startCode == SacnMessage::StartCodeLevels)
        m_sourceLevels->take(message.frame);
    if (!m_historySink)
        return;
    const qint64 arrivalNs = message.frame.arrivalNs;
    const int count = chosenLevels(arrivalNs, m_mergedLevels.get());
    m_historySink->append(m_mergedLevels.get(), quint16(count), arrivalNs);
}

int SacnReceiver::chosenLevels(qint64 nowNs, uchar *levels) const
{
    const int count = m_sourceLevels->choose(m_levelChoice, nowNs, levels);
    return count >= 0 ? count : m_merge->merge(nowNs, levels);
}

int SacnReceiver::mergeWithWinners(qint64 nowNs, uchar *levels, qint8 *winner) const
{
    if (!m_merge) {
        std::memset(levels, 0, DmxFrame::MaxChannels);
        std::memset(winner, -1, DmxFrame::MaxChannels);
        return 0;
    }
    const int count = m_merge->merge(nowNs, levels, winner);
    std::array<qint8, SacnMerge::MaxSources> index;
    for (int i = 0; i < m_merge->sourceCount(); ++i)
        index[size_t(i)] = qint8(m_sourceLevels->indexOf(m_merge->sourceIdentity(i)));
    for (int slot = 0; slot < DmxFrame::MaxChannels; ++slot) {
        if (winner[slot] >= 0)
            winner[slot] = index[size_t(winner[slot])];
    }
    return count;
}

quint8 SacnReceiver::priorityOf(const SourceIdentity &source) const
{
    for (int i = 0; m_merge && i < m_merge->sourceCount(); ++i) {
        if (m_merge->sourceIdentity(i) == source)
            return m_merge->sourcePriority(i);
    }
    return 0;
}

bool SacnReceiver::readUniverse(uchar *buffer, quint16 *length) const
{
    if (!m_merge || !buffer || !length || *length == 0)
        return false;
    const int count = chosenLevels(MonotonicClock::nowNs(), m_mergedLevels.get());
    *length = quint16(std::min<int>(*length, count));
    std::memcpy(buffer, m_mergedLevels.get(), *length);
    return true;
}

void SacnReceiver::setPlayingCapture(bool playing)
{
    m_playingCapture = playing;
    if (!playing)
        updateGroups();
}

void SacnReceiver::forgetReceived()
{
    if (m_universeOnShow) {
        m_merge = std::make_unique<SacnMerge>(m_universeOnShow);
        m_merge->setAcceptPreview(m_previewAccepted);
    }
    m_sourceLevels->clear();
    if (m_historySink)
        m_historySink->clear();
    clearCensus();
    forgetDiscoveredUniverses();
}

void SacnReceiver::setFrameHistoryKept(bool keep)
{
    if (keep && !m_frameHistory)
        m_frameHistory = std::make_unique<FrameHistory>();
    if (!keep && m_frameHistory)
        m_frameHistory->clear();
    m_historySink = keep ? m_frameHistory.get() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Census

qint64 SacnReceiver::censusClockMs() const
{
    return censusMs(MonotonicClock::nowNs());
}

QList<UniverseTraffic> SacnReceiver::universeTraffic() const
{
    return m_census->universes(censusClockMs());
}

QList<DmxSource> SacnReceiver::dmxSources(quint16 universe) const
{
    return m_census->sources(UniverseKey{DmxProtocol::Sacn, universe}, censusClockMs());
}

QList<SacnSourceInfo> SacnReceiver::sources() const
{
    return m_sources->sources(censusClockMs());
}

quint64 SacnReceiver::malformedDmx() const
{
    return m_census->malformedDmx();
}

quint64 SacnReceiver::malformedFrom(quint32 sender) const
{
    return m_census->malformedFrom(sender);
}

void SacnReceiver::forgetSilent()
{
    const qint64 nowMs = censusClockMs();
    m_census->forgetSilent(nowMs);
    m_sources->forgetLost(nowMs);
}

void SacnReceiver::clearCensus()
{
    m_census->clear();
    m_sources->clear();
}
