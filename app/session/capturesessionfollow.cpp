#include "capturesession.h"

#include "artnet.h"
#include "followedlevels.h"
#include "monotonicclock.h"

void CaptureSession::setFollowedUniverses(const QList<UniverseKey> &universes)
{
    if (m_followedLevels)
        m_followedLevels->follow(universes);
}

bool CaptureSession::readFollowedLevels(UniverseKey universe, uchar *buffer, quint16 *length)
{
    if (!m_artNet)
        return false;
    // readLevels() would start reception of its own: only while the window records it.
    const bool recorded = m_protocol == DmxProtocol::Sacn ? m_sacnRecording
                                                          : m_artNet->receiving();
    if (recorded && universe == universeOnShow())
        return readLevels(buffer, length);
    return m_followedLevels->read(universe, MonotonicClock::nowNs(), buffer, length);
}
