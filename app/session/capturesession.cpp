#include "capturesession.h"

#include "artnet.h"
#include "eventdetector.h"
#include "eventlog.h"
#include "followedlevels.h"
#include "networkchangewatcher.h"
#include "sacnpackets.h"
#include "sacnreceiver.h"
#include "sacnsender.h"
#include "sourcelevels.h"

#include "monotonicclock.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr int FirstUniverse = 1;
// What the engine's 1-based 16-bit universe number can take at all.
constexpr int LastUniverse = std::numeric_limits<quint16>::max() + 1;

} // namespace

CaptureSession::CaptureSession()
    : m_chosenLevels(new uchar[DmxFrame::MaxChannels]()),
      m_eventLog(std::make_unique<EventLog>()),
      m_detector(std::make_unique<EventDetector>(m_eventLog.get()))
{
}

CaptureSession::~CaptureSession()
{
    stopCapture();
}

void CaptureSession::start(const Identity &identity)
{
    if (!m_artNet)
        m_artNet = std::make_unique<artnet>();
    if (!m_sacn) {
        m_sacn = std::make_unique<SacnReceiver>();
        m_sacn->setUniverseOnShow(quint16(m_sacnUniverse));
        m_sacn->setWatchList(m_watchList);
        m_sacn->setPreviewAccepted(m_previewShown);
        m_sacnSender = std::make_unique<SacnSender>();
        m_sacnSender->setPriority(m_sacnSendPriority);
    }
    if (!m_networkWatcher) {
        m_networkWatcher = std::make_unique<NetworkChangeWatcher>();
        m_networkAddresses = ipv4Addresses();
        QObject::connect(m_networkWatcher.get(), &NetworkChangeWatcher::changed,
                         m_networkWatcher.get(), [this] { noteNetworkChange(); });
    }
    if (!m_followedLevels)
        m_followedLevels = std::make_unique<FollowedLevels>();
    m_artNet->setFollowedLevels(m_followedLevels.get());
    m_sacn->setFollowedLevels(m_followedLevels.get());
    m_artNet->setSourceLevelsKept(true);
    applyLevelChoice();
    setTracedChannel(m_tracedChannel);
    m_sacnSender->setSourceName(identity.shortName);
    m_artNet->m_versionHi = identity.versionHi;
    m_artNet->m_versionLo = identity.versionLo;
    m_artNet->m_oemHi = identity.oemHi;
    m_artNet->m_oemLo = identity.oemLo;
    m_artNet->m_shortName = identity.shortName;
    m_artNet->m_longName = identity.longName;
}

bool CaptureSession::openPort()
{
    if (!m_artNet)
        return false;
    const bool open = m_artNet->openSocket();
    notePort(DmxProtocol::ArtNet, open, m_artNet->portShared());
    return open;
}

bool CaptureSession::portShared() const
{
    return m_artNet && m_artNet->portShared();
}

bool CaptureSession::openSacnPort()
{
    if (!m_sacn)
        return false;
    const bool open = m_sacn->open();
    notePort(DmxProtocol::Sacn, open, m_sacn->portShared());
    return open;
}

bool CaptureSession::sacnPortShared() const
{
    return m_sacn && m_sacn->portShared();
}

void CaptureSession::setProtocol(DmxProtocol protocol)
{
    if (protocol == m_protocol)
        return;
    // What was kept of the other protocol's universe would be shown as this one's.
    const bool recording = m_sacnRecording || (m_artNet && m_artNet->frameHistory());
    m_protocol = protocol;
    if (recording)
        keepHistory();
}

bool CaptureSession::setSacnUniverse(int universe)
{
    if (universe < SacnPackets::MinUniverse || universe > SacnPackets::MaxUniverse)
        return false;
    if (universe != m_sacnUniverse && m_sacnChoice.kind == LevelChoice::Kind::Source)
        m_sacnChoice = LevelChoice::of(LevelChoice::Kind::MergedPriorityHtp);
    m_sacnUniverse = universe;
    applyLevelChoice();
    if (m_sacn)
        m_sacn->setUniverseOnShow(quint16(universe));
    return true;
}

void CaptureSession::setWatchList(const QList<quint16> &universes)
{
    m_watchList = universes;
    if (m_sacn)
        m_sacn->setWatchList(universes);
}

void CaptureSession::setPreviewShown(bool shown)
{
    m_previewShown = shown;
    if (m_sacn)
        m_sacn->setPreviewAccepted(shown);
}

UniverseKey CaptureSession::universeOnShow() const
{
    if (m_protocol == DmxProtocol::Sacn)
        return {DmxProtocol::Sacn, quint16(m_sacnUniverse)};
    return {DmxProtocol::ArtNet, quint16(m_artNetUniverse - 1)};
}

bool CaptureSession::setPollMode(bool on)
{
    return m_artNet && m_artNet->setPollMode(on);
}

bool CaptureSession::setUniverse(int universe)
{
    if (universe < FirstUniverse || universe > LastUniverse)
        return false;
    if (!m_artNet) {
        // Remembered for universeOnShow(), so the indicator names it before the first start.
        if (universe < LastUniverse)
            m_artNetUniverse = universe;
        return false;
    }
    // 65536 wraps to 0, which the engine refuses and so keeps its universe.
    if (universe != m_artNetUniverse && m_artNetChoice.kind == LevelChoice::Kind::Source) {
        m_artNetChoice = LevelChoice();
        applyLevelChoice();
    }
    if (m_artNet->setReceiveUniverse(quint16(universe)))
        m_artNetUniverse = universe;
    return true;
}

void CaptureSession::keepHistory()
{
    if (m_protocol == DmxProtocol::Sacn) {
        if (!m_sacn)
            return;
        m_sacnRecording = true;
        m_sacn->setFrameHistoryKept(true);
        if (m_artNet)
            m_artNet->setFrameHistoryKept(false);
    } else if (m_artNet) {
        m_artNet->setFrameHistoryKept(true);
        if (m_sacn)
            m_sacn->setFrameHistoryKept(false);
        m_sacnRecording = false;
        closeSacnWhenUnused();
    }
}

const FrameHistory *CaptureSession::history() const
{
    if (m_protocol == DmxProtocol::Sacn)
        return m_sacn ? m_sacn->frameHistory() : nullptr;
    return m_artNet ? m_artNet->frameHistory() : nullptr;
}

bool CaptureSession::readLevels(uchar *buffer, quint16 *length)
{
    if (m_protocol == DmxProtocol::Sacn)
        return m_sacn && m_sacn->readUniverse(buffer, length);
    const quint16 room = length ? *length : 0;
    // The engine's own read starts reception whatever the choice.
    if (!m_artNet || !m_artNet->readUniverse(buffer, length))
        return false;
    if (m_artNetChoice.kind == LevelChoice::Kind::LatestPacket || !m_artNet->sourceLevels())
        return true;
    const int count = m_artNet->sourceLevels()->choose(m_artNetChoice, MonotonicClock::nowNs(),
                                                       m_chosenLevels.get());
    *length = quint16(std::clamp<int>(count, 0, room));
    std::memcpy(buffer, m_chosenLevels.get(), *length);
    return true;
}

qint64 CaptureSession::send(const QByteArray &frame, int universe)
{
    if (!m_artNet)
        return -1;
    // One stream at a time: the frame goes out in the protocol on show, the other one stops.
    if (m_protocol == DmxProtocol::Sacn) {
        m_artNet->stopSending();
        return m_sacnSender->send(frame, quint16(m_sacnUniverse));
    }
    if (m_sacnSender->sendingUniverse())
        m_sacnSender->stop();
    return m_artNet->sendDmx(reinterpret_cast<const uchar *>(frame.constData()),
                             quint16(frame.size()), quint16(universe), nullptr);
}

void CaptureSession::setSacnSendPriority(int priority)
{
    m_sacnSendPriority = priority;
    if (m_sacnSender)
        m_sacnSender->setPriority(priority);
}

DmxProtocol CaptureSession::sendingProtocol() const
{
    return m_sacnSender && m_sacnSender->sendingUniverse() ? DmxProtocol::Sacn
                                                           : DmxProtocol::ArtNet;
}

int CaptureSession::sendingUniverse() const
{
    if (m_sacnSender && m_sacnSender->sendingUniverse())
        return m_sacnSender->sendingUniverse();
    return m_artNet ? m_artNet->sendingUniverse() : 0;
}

QStringList CaptureSession::sendNetworks() const
{
    if (m_sacnSender && m_sacnSender->sendingUniverse())
        return m_sacnSender->sendNetworks();
    return m_artNet ? m_artNet->sendNetworks() : QStringList();
}

void CaptureSession::stop()
{
    if (!m_artNet)
        return;
    m_artNet->stopSending();
    if (m_sacnSender->sendingUniverse())
        m_sacnSender->stop();
    m_artNet->stopReceiving();
    if (m_sacn)
        m_sacn->setFrameHistoryKept(false);
    m_sacnRecording = false;
    closeSacnWhenUnused();
}

// The sACN socket holds multicast memberships, which switches and routers act on: it stays open
// only while something reads it.
void CaptureSession::closeSacnWhenUnused()
{
    if (m_sacn && !m_sacnRecording && !m_sacnListening && !m_capturing)
        m_sacn->close();
}

bool CaptureSession::startListening()
{
    if (!m_artNet)
        return false;
    const bool open = m_artNet->openSocket();
    if (m_listeners++ > 0)
        return open;
    m_artNet->setCensusEnabled(true);
    m_artNet->startNodePolling();
    m_sacnListening = true;
    const bool sacnOpen = m_sacn->open();
    notePort(DmxProtocol::ArtNet, open, m_artNet->portShared());
    notePort(DmxProtocol::Sacn, sacnOpen, m_sacn->portShared());
    return open;
}

void CaptureSession::stopListening()
{
    if (!m_artNet || m_listeners == 0 || --m_listeners > 0)
        return;
    m_artNet->stopNodePolling();
    m_artNet->setCensusEnabled(false);
    m_sacnListening = false;
    closeSacnWhenUnused();
}

bool CaptureSession::listening() const
{
    return m_artNet && m_artNet->censusEnabled();
}

CensusSnapshot CaptureSession::census() const
{
    CensusSnapshot snapshot;
    if (!m_artNet)
        return snapshot;
    snapshot.nowMs = m_artNet->censusClockMs();
    snapshot.universes = m_artNet->universeTraffic();
    snapshot.nodes = m_artNet->nodes();
    TimeCodeSource source;
    QHostAddress sender;
    for (int index = 0; m_artNet->timeCodeSource(&source, &sender, index); ++index) {
        // The engine hands the sender out beside the record, not in it.
        source.sender = sender;
        snapshot.timeCode << source;
    }
    snapshot.unstoredSources = m_artNet->unstoredSources();
    snapshot.unlistedUniverses = m_artNet->unlistedUniverses();
    snapshot.unstoredNodes = m_artNet->unstoredNodes();
    snapshot.malformedWithoutSource = m_artNet->malformedDmxWithoutSource();
    appendSacnCensus(&snapshot);
    return snapshot;
}

// The sACN receiver keeps its own clock; its times are moved onto the Art-Net census clock so
// that one snapshot has one.
void CaptureSession::appendSacnCensus(CensusSnapshot *snapshot) const
{
    if (!m_sacn || (!m_sacn->isOpen() && !m_playingCapture))
        return;
    const qint64 offset = snapshot->nowMs - m_sacn->censusClockMs();
    const QList<UniverseTraffic> universes = m_sacn->universeTraffic();
    for (UniverseTraffic universe : universes) {
        universe.lastSeenMs += offset;
        snapshot->universes << universe;
    }
    snapshot->sacnSources = m_sacn->sources();
    for (SacnSourceInfo &source : snapshot->sacnSources) {
        source.firstSeenMs += offset;
        source.lastSeenMs += offset;
    }
    snapshot->sacnDiscovered = m_sacn->discoveredUniverses();
    snapshot->sacnMalformed = m_sacn->malformedDmx();
}

QList<DmxSource> CaptureSession::sources(int universe) const
{
    if (!m_artNet)
        return {};
    return m_artNet->dmxSources(quint16(universe - 1));
}

QList<DmxSource> CaptureSession::sources(UniverseKey universe) const
{
    if (universe.protocol == DmxProtocol::ArtNet)
        return sources(int(universe.number) + 1);
    if (!m_sacn)
        return {};
    QList<DmxSource> found = m_sacn->dmxSources(universe.number);
    const qint64 offset = clockMs() - m_sacn->censusClockMs();
    for (DmxSource &source : found) {
        source.firstSeenMs += offset;
        source.lastSeenMs += offset;
    }
    return found;
}

qint64 CaptureSession::clockMs() const
{
    return m_artNet ? m_artNet->censusClockMs() : 0;
}

void CaptureSession::forgetSilent()
{
    const qint64 nowNs = MonotonicClock::nowNs();
    if (m_artNet) {
        m_artNet->forgetSilent();
        if (m_artNet->sourceLevels())
            m_artNet->sourceLevels()->forgetSilent(nowNs);
    }
    if (m_sacn) {
        m_sacn->forgetSilent();
        m_sacn->sourceLevels().forgetSilent(nowNs);
    }
}
