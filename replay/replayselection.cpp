#include "replayselection.h"

#include "artnetpackets.h"
#include "captureframing.h"
#include "dmxframe.h"
#include "sacnmessage.h"
#include "sacnpackets.h"

#include <cstring>

ReplaySelection::ReplaySelection(const QList<quint16> &universes)
    : m_all(universes.isEmpty()),
      m_artNetPortAddresses(m_all ? 0 : ArtNetPackets::PortAddressCount, false),
      m_sacnUniverses(m_all ? 0 : 65536, false)
{
    for (quint16 universe : universes) {
        if (universe >= 1 && universe <= ArtNetPackets::PortAddressCount)
            m_artNetPortAddresses[universe - 1] = true;
        m_sacnUniverses[universe] = true;
    }
}

ReplaySelection::Protocol ReplaySelection::choose(const CapturedDatagram &datagram) const
{
    if (datagram.destinationPort == CaptureFraming::ArtNetPort)
        return chooseArtNet(datagram);
    if (datagram.destinationPort == CaptureFraming::SacnPort)
        return chooseSacn(datagram);
    return Protocol::None;
}

ReplaySelection::Protocol ReplaySelection::chooseArtNet(const CapturedDatagram &datagram) const
{
    using namespace ArtNetPackets;
    if (datagram.payloadLength <= Header::Size)
        return Protocol::None;
    const bool artNet = std::memcmp(datagram.payload, ArtNetId, Header::IdSize) == 0;
    const bool madrix = std::memcmp(datagram.payload, MadrixId, Header::IdSize) == 0;
    const quint16 opCode = readOpCode(datagram.payload, datagram.payloadLength);
    if (artNet && opCode == OpCode::Dmx) {
        if (m_all)
            return Protocol::ArtNet;
        DmxFrame frame;
        readArtDmx(datagram.payload, datagram.payloadLength, datagram.sourceAddress, &frame);
        return frame.universeKnown && m_artNetPortAddresses[frame.universe.number]
                ? Protocol::ArtNet
                : Protocol::None;
    }
    if (!m_all)
        return Protocol::None;
    const bool sync = opCode == OpCode::Sync || opCode == OpCode::SyncPre
            || opCode == OpCode::SyncPost;
    if ((artNet || madrix) && sync)
        return Protocol::ArtNet;
    return artNet && opCode == OpCode::TimeCode ? Protocol::ArtNet : Protocol::None;
}

ReplaySelection::Protocol ReplaySelection::chooseSacn(const CapturedDatagram &datagram) const
{
    SacnMessage message;
    SacnPackets::readDatagram(datagram.payload, datagram.payloadLength, datagram.sourceAddress,
                              datagram.timeNs, &message);
    if (message.kind == SacnMessage::Kind::Sync)
        return m_all ? Protocol::Sacn : Protocol::None;
    if (message.kind != SacnMessage::Kind::Data || !message.frame.universeKnown)
        return Protocol::None;
    return m_all || m_sacnUniverses[message.frame.universe.number] ? Protocol::Sacn
                                                                    : Protocol::None;
}
