// CaptureSession: the event log, the detector's passes and the program's own events.
#include "capturesession.h"

#include "artnet.h"
#include "dmxcensus.h"
#include "eventdetector.h"
#include "eventlog.h"
#include "networkchangewatcher.h"
#include "sacnreceiver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QNetworkInterface>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CaptureSession", text);
}

QString protocolName(DmxProtocol protocol)
{
    return protocol == DmxProtocol::Sacn ? QStringLiteral("sACN") : QStringLiteral("Art-Net");
}

} // namespace

// Every interface's IPv4 addresses as "eth0 192.168.1.10", sorted.
QStringList CaptureSession::ipv4Addresses()
{
    QStringList addresses;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        if (!(interface.flags() & QNetworkInterface::IsUp))
            continue;
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                addresses << interface.name() + QLatin1Char(' ') + entry.ip().toString();
        }
    }
    addresses.sort();
    return addresses;
}

void CaptureSession::noteEvent(DmxEventKind kind, const QString &text)
{
    DmxEvent event;
    event.kind = kind;
    event.wallMs = QDateTime::currentMSecsSinceEpoch();
    event.clockMs = clockMs();
    event.text = text;
    m_eventLog->append(std::move(event));
}

// Told when it changes, not at every attempt to open the port.
void CaptureSession::notePort(DmxProtocol protocol, bool open, bool shared)
{
    const PortState state = !open ? PortState::Busy : shared ? PortState::Shared : PortState::Open;
    PortState &before = m_portState[int(protocol)];
    if (state == before)
        return;
    before = state;
    const int port = protocol == DmxProtocol::Sacn ? 5568 : 6454;
    if (state == PortState::Busy)
        noteEvent(DmxEventKind::PortBusy,
                  tr("%1 port %2 is held by another program").arg(protocolName(protocol)).arg(port));
    else if (state == PortState::Shared)
        noteEvent(DmxEventKind::PortShared,
                  tr("%1 port %2 shared with another program").arg(protocolName(protocol)).arg(port));
}

void CaptureSession::noteNetworkChange()
{
    const QStringList now = ipv4Addresses();
    for (const QString &address : now) {
        if (!m_networkAddresses.contains(address))
            noteEvent(DmxEventKind::NetworkUp, address);
    }
    for (const QString &address : std::as_const(m_networkAddresses)) {
        if (!now.contains(address))
            noteEvent(DmxEventKind::NetworkDown, address);
    }
    m_networkAddresses = now;
}

void CaptureSession::noteCaptureEnded()
{
    if (m_captureEndNoted || !m_captureWriter)
        return;
    const CaptureFileWriter::Status status = m_captureWriter->status();
    QString why;
    switch (status.ending) {
    case CaptureFileWriter::Ending::Running:
        return;
    case CaptureFileWriter::Ending::Stopped:
        why = tr("stopped");
        break;
    case CaptureFileWriter::Ending::SizeLimit:
        why = tr("size limit reached");
        break;
    case CaptureFileWriter::Ending::WriteError:
        why = tr("write failed: %1").arg(status.error);
        break;
    }
    m_captureEndNoted = true;
    noteEvent(DmxEventKind::CaptureEnded,
              tr("%1: %2").arg(QFileInfo(status.path).fileName(), why));
}

void CaptureSession::detectEvents()
{
    noteCaptureEnded();
    if (!m_artNet)
        return;
    const bool artNetCounting = m_artNet->censusCounting() && m_artNet->census();
    const bool sacnCounting = (m_sacn->isOpen() || m_playingCapture) && m_sacn->census();
    // Nothing was counted meanwhile: the sources did not all fall silent.
    if (!artNetCounting && !sacnCounting) {
        m_detectorFresh = false;
        return;
    }
    if (!m_detectorFresh) {
        m_detector->reset();
        m_detectorFresh = true;
    }
    const qint64 wallMs = QDateTime::currentMSecsSinceEpoch();
    if (artNetCounting)
        detectArtNetEvents(wallMs);
    if (sacnCounting)
        detectSacnEvents(wallMs);
}

void CaptureSession::detectArtNetEvents(qint64 wallMs)
{
    EventDetector::Pass pass;
    pass.nowMs = m_artNet->censusClockMs();
    pass.wallMs = wallMs;
    const QList<NodeInfo> nodes = m_artNet->nodes();
    // A source is named by the node that answers polls from its address.
    const auto nameOf = [&nodes](UniverseKey, const SourceIdentity &source) {
        for (const NodeInfo &node : nodes) {
            if (node.sourceAddress == source.address && !node.shortName.isEmpty())
                return node.shortName;
        }
        return QString();
    };
    m_detector->detectSources(*m_artNet->census(), DmxProtocol::ArtNet, pass, nameOf);
    m_detector->detectNodes(nodes, pass);
    QList<TimeCodeSource> timeCode;
    TimeCodeSource source;
    QHostAddress sender;
    for (int index = 0; m_artNet->timeCodeSource(&source, &sender, index); ++index) {
        source.sender = sender;
        timeCode << source;
    }
    m_detector->detectTimeCode(timeCode, pass);
}

void CaptureSession::detectSacnEvents(qint64 wallMs)
{
    EventDetector::Pass pass;
    pass.nowMs = m_sacn->censusClockMs();
    pass.clockOffsetMs = clockMs() - pass.nowMs;
    pass.wallMs = wallMs;
    QList<SacnSourceInfo> named; // asked for at the first event that names a source
    bool asked = false;
    const auto nameOf = [this, &named, &asked](UniverseKey universe, const SourceIdentity &source) {
        if (!asked)
            named = m_sacn->sources();
        asked = true;
        for (const SacnSourceInfo &info : std::as_const(named)) {
            if (info.cid == source.cid && info.universe == universe.number)
                return info.name;
        }
        return QString();
    };
    m_detector->detectSources(*m_sacn->census(), DmxProtocol::Sacn, pass, nameOf);
}
