#ifndef SACNSOURCEINFO_H
#define SACNSOURCEINFO_H

#include "sourceidentity.h"

#include <QString>
#include <QtGlobal>

#include <array>

// One sACN source of one universe as its last data packet described it: what the census's
// DmxSource does not carry. Times are milliseconds on the receiver's census clock.
struct SacnSourceInfo
{
    std::array<quint8, SourceIdentity::CidSize> cid = {};
    QString name;                // network text: shown as text, never as markup
    quint32 address = 0;         // sender IPv4 of its last packet, host byte order
    quint16 universe = 0;
    quint8 priority = 0;         // of its last packet, as sent (above 200 when invalid)
    quint64 invalidPriorityPackets = 0; // packets with a priority above 200
    bool perAddressPriority = false;    // sent start code 0xDD within the last 2.5 s
    quint16 syncAddress = 0;     // 0: none
    bool preview = false;        // its last packet was preview data
    qint64 firstSeenMs = 0;
    qint64 lastSeenMs = 0;
    quint64 packets = 0;
};

#endif // SACNSOURCEINFO_H
