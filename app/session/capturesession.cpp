#include "capturesession.h"

#include "artnet.h"

#include <limits>

namespace {

constexpr int FirstUniverse = 1;
// What the engine's 1-based 16-bit universe number can take at all.
constexpr int LastUniverse = std::numeric_limits<quint16>::max() + 1;

} // namespace

CaptureSession::CaptureSession() = default;

CaptureSession::~CaptureSession() = default;

void CaptureSession::start(const Identity &identity)
{
    if (!m_artNet)
        m_artNet = std::make_unique<artnet>();
    m_artNet->m_versionHi = identity.versionHi;
    m_artNet->m_versionLo = identity.versionLo;
    m_artNet->m_oemHi = identity.oemHi;
    m_artNet->m_oemLo = identity.oemLo;
    m_artNet->m_shortName = identity.shortName;
    m_artNet->m_longName = identity.longName;
}

bool CaptureSession::openPort()
{
    return m_artNet && m_artNet->openSocket();
}

bool CaptureSession::portShared() const
{
    return m_artNet && m_artNet->portShared();
}

bool CaptureSession::setPollMode(bool on)
{
    return m_artNet && m_artNet->setPollMode(on);
}

bool CaptureSession::setUniverse(int universe)
{
    if (!m_artNet || universe < FirstUniverse || universe > LastUniverse)
        return false;
    // 65536 wraps to 0, which the engine refuses and so keeps its universe.
    m_artNet->setReceiveUniverse(quint16(universe));
    return true;
}

void CaptureSession::keepHistory()
{
    if (m_artNet)
        m_artNet->setFrameHistoryKept(true);
}

const FrameHistory *CaptureSession::history() const
{
    return m_artNet ? m_artNet->frameHistory() : nullptr;
}

bool CaptureSession::readLevels(uchar *buffer, quint16 *length)
{
    return m_artNet && m_artNet->readUniverse(buffer, length);
}

qint64 CaptureSession::send(const QByteArray &frame, int universe)
{
    if (!m_artNet)
        return -1;
    return m_artNet->sendDmx(reinterpret_cast<const uchar *>(frame.constData()),
                             quint16(frame.size()), quint16(universe), nullptr);
}

int CaptureSession::sendingUniverse() const
{
    return m_artNet ? m_artNet->sendingUniverse() : 0;
}

QStringList CaptureSession::sendNetworks() const
{
    return m_artNet ? m_artNet->sendNetworks() : QStringList();
}

void CaptureSession::stop()
{
    if (!m_artNet)
        return;
    m_artNet->stopSending();
    m_artNet->stopReceiving();
}

bool CaptureSession::startListening()
{
    if (!m_artNet)
        return false;
    const bool open = m_artNet->openSocket();
    m_artNet->setCensusEnabled(true);
    m_artNet->startNodePolling();
    return open;
}

void CaptureSession::stopListening()
{
    if (!m_artNet)
        return;
    m_artNet->stopNodePolling();
    m_artNet->setCensusEnabled(false);
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
    return snapshot;
}

QList<DmxSource> CaptureSession::sources(int universe) const
{
    if (!m_artNet)
        return {};
    return m_artNet->dmxSources(quint16(universe - 1));
}

qint64 CaptureSession::clockMs() const
{
    return m_artNet ? m_artNet->censusClockMs() : 0;
}

void CaptureSession::forgetSilent()
{
    if (m_artNet)
        m_artNet->forgetSilent();
}
