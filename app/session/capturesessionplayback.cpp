#include "capturesession.h"

#include "artnet.h"
#include "artnetpackets.h"
#include "captureddatagram.h"
#include "eventdetector.h"
#include "followedlevels.h"
#include "sacnpackets.h"
#include "sacnreceiver.h"
#include "sacnsender.h"

#include "monotonicclock.h"

void CaptureSession::setPlayingCapture(bool playing)
{
    if (!m_artNet || playing == m_playingCapture)
        return;
    if (playing) {
        // What went out live must not be taken for the capture's.
        m_artNet->stopSending();
        if (m_sacnSender->sendingUniverse())
            m_sacnSender->stop();
    }
    m_artNet->setPlayingCapture(playing);
    m_sacn->setPlayingCapture(playing);
    m_playingCapture = playing;
    forgetReceived();
    // From the first played datagram on, as recording would from its first read.
    if (playing)
        m_artNet->startReceiving();
    if (!playing)
        MonotonicClock::setPlayback(MonotonicClock::Playback::Live, 0);
}

void CaptureSession::forgetReceived()
{
    // The clock may jump with what is received next (a seek): the detector starts afresh.
    m_detector->reset();
    if (m_artNet)
        m_artNet->forgetReceived();
    if (m_sacn)
        m_sacn->forgetReceived();
    if (m_followedLevels)
        m_followedLevels->clear();
}

quint64 CaptureSession::liveDatagramsDropped() const
{
    return (m_artNet ? m_artNet->liveDatagramsDropped() : 0)
           + (m_sacn ? m_sacn->liveDatagramsDropped() : 0);
}

void CaptureSession::feedCapturedDatagram(const CapturedDatagram &datagram)
{
    if (!m_playingCapture || !datagram.payload || datagram.payloadLength <= 0)
        return;
    const QByteArray payload = QByteArray::fromRawData(
            reinterpret_cast<const char *>(datagram.payload), datagram.payloadLength);
    m_capturedSender.setAddress(datagram.sourceAddress);
    const qint64 arrivalNs = MonotonicClock::fromCaptureNs(datagram.timeNs);
    // A reply between two nodes goes from port to port; a console's sACN comes from any port.
    if (datagram.destinationPort == SacnPackets::Port
        || (datagram.sourcePort == SacnPackets::Port && datagram.destinationPort != ArtNetPackets::Port))
        m_sacn->handleDatagram(payload, m_capturedSender, arrivalNs);
    else
        m_artNet->handleDatagramArrivedAt(payload, m_capturedSender, arrivalNs);
}
