#ifndef REPLAYSELECTION_H
#define REPLAYSELECTION_H

#include "captureddatagram.h"

#include <QList>
#include <QtGlobal>

#include <vector>

// Which datagrams of a capture a replay sends. With every universe: Art-Net's ArtDmx, ArtSync
// (and the MadrixN syncs) and ArtTimeCode, and sACN's data and sync packets. With chosen
// universes: only the ArtDmx and sACN data of those. Never ArtPoll, ArtPollReply, sACN universe
// discovery or anything that configures a node: replaying another node's answers or
// announcements would tell the rig about equipment that is not there.
class ReplaySelection
{
public:
    enum class Protocol : quint8 { None, ArtNet, Sacn };

    // Universes as the program shows them: an Art-Net port-address + 1, the sACN universe
    // itself. Empty: every universe.
    explicit ReplaySelection(const QList<quint16> &universes = {});

    // Decodes the datagram once; None for one that is not replayed.
    Protocol choose(const CapturedDatagram &datagram) const;

private:
    Protocol chooseArtNet(const CapturedDatagram &datagram) const;
    Protocol chooseSacn(const CapturedDatagram &datagram) const;

    bool m_all = true;
    std::vector<bool> m_artNetPortAddresses; // indexed by port-address
    std::vector<bool> m_sacnUniverses;       // indexed by universe
};

#endif // REPLAYSELECTION_H
