#ifndef SACNMESSAGE_H
#define SACNMESSAGE_H

#include "dmxframe.h"

#include <QtGlobal>

// What one sACN datagram said, decoded once by SacnPackets::readDatagram and handed on: the
// census takes `frame`, the merge takes the whole message. Every pointer points into the
// datagram: a message is valid only while the datagram it was read from is.
struct SacnMessage
{
    enum class Kind : quint8 {
        Malformed, // failed a check: nothing in it is to be used but the sender
        Data,      // E1.31 data packet, any start code
        Sync,      // synchronisation packet
        Discovery, // one page of a universe discovery list
    };
    // The layer whose check failed, for a malformed message.
    enum class Fault : quint8 { None, Root, Framing, Dmp, Universe };

    static constexpr quint8 StartCodeLevels = 0x00;
    static constexpr quint8 StartCodePerAddressPriority = 0xDD;
    static constexpr quint8 OptionPreview = 0x80;
    static constexpr quint8 OptionStreamTerminated = 0x40;
    static constexpr quint8 OptionForceSync = 0x20;
    static constexpr quint8 MaxPriority = 200;
    static constexpr int SourceNameSize = 64;
    static constexpr int MaxDiscoveryUniverses = 512;

    Kind kind = Kind::Malformed;
    Fault fault = Fault::None;

    // Data: protocol sACN, universe, CID, sequence, priority and arrival time. Its levels are
    // set only for start code 0; malformed when the message is (with the sender's address, so
    // that the census counts it against that sender).
    DmxFrame frame;
    // Data and discovery: the source name's bytes up to its first zero, at most 64, as they
    // arrived (see SacnPackets::sourceNameText).
    const uchar *sourceName = nullptr;
    quint8 sourceNameSize = 0;
    // Data: every slot after the start code, whatever the start code (for 0xDD the priority of
    // each address, 0 meaning "not this source").
    const uchar *slotValues = nullptr;
    quint16 slotCount = 0;
    quint8 startCode = 0;
    quint8 options = 0;
    // Data and sync: the universe whose sync packets release this data (0: none); of a sync
    // packet, the universe it is sent on.
    quint16 syncAddress = 0;
    // Data: a priority above 200. The frame is read as it came; a receiver passes it over.
    bool invalidPriority = false;

    // Discovery: this page, the last page, and the universes it lists (two bytes each, most
    // significant first), as many as arrived.
    quint8 page = 0;
    quint8 lastPage = 0;
    const uchar *universeList = nullptr;
    quint16 universeCount = 0;

    bool preview() const { return options & OptionPreview; }
    bool streamTerminated() const { return options & OptionStreamTerminated; }
    bool forceSync() const { return options & OptionForceSync; }
    quint16 discoveryUniverse(int index) const
    {
        return quint16(quint16(universeList[2 * index]) << 8 | universeList[2 * index + 1]);
    }
};

#endif // SACNMESSAGE_H
