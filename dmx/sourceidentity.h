#ifndef SOURCEIDENTITY_H
#define SOURCEIDENTITY_H

#include <QtGlobal>

#include <array>
#include <cstring>

enum class DmxProtocol : quint8 {
    ArtNet = 0,
    Sacn = 1,
};
constexpr int DmxProtocolCount = 2;

// Who sent a DMX frame, as its protocol tells senders apart: for Art-Net the sender's IPv4
// address and the packet's Physical byte (one console may send several outputs); for sACN the
// component identifier (CID) that every packet carries, whatever address it comes from.
struct SourceIdentity
{
    static constexpr int CidSize = 16;

    DmxProtocol protocol = DmxProtocol::ArtNet;
    quint32 address = 0;         // sender IPv4, host byte order (both protocols)
    quint8 physical = 0;         // Art-Net only
    std::array<quint8, CidSize> cid = {}; // sACN only

    static SourceIdentity artNet(quint32 address, quint8 physical)
    {
        SourceIdentity identity;
        identity.address = address;
        identity.physical = physical;
        return identity;
    }

    // The same source: an sACN sender that changes its address keeps its CID.
    friend bool operator==(const SourceIdentity &a, const SourceIdentity &b)
    {
        if (a.protocol != b.protocol)
            return false;
        if (a.protocol == DmxProtocol::ArtNet)
            return a.address == b.address && a.physical == b.physical;
        return std::memcmp(a.cid.data(), b.cid.data(), CidSize) == 0;
    }
    friend bool operator!=(const SourceIdentity &a, const SourceIdentity &b) { return !(a == b); }
};

#endif // SOURCEIDENTITY_H
