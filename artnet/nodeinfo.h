#ifndef NODEINFO_H
#define NODEINFO_H

#include <QString>
#include <QtGlobal>

// One node (or one BindIndex page of a node) as its last ArtPollReply described it.
// Nodes are keyed by source address + BindIndex.
struct NodeInfo
{
    quint32 packetAddress = 0;   // IP written in the reply, host byte order
    quint32 sourceAddress = 0;   // UDP source address of the reply
    quint16 port = 0;
    quint8 bindIndex = 0;
    QString shortName;
    QString longName;
    QString nodeReport;
    quint16 firmware = 0;        // VersInfoHi << 8 | VersInfoLo
    quint16 oem = 0;
    quint16 esta = 0;
    quint8 mac[6] = {};
    quint8 status1 = 0;
    quint8 status2 = 0;          // 0 when the reply was too short to carry it
    quint16 numPorts = 0;
    quint8 portTypes[4] = {};
    quint8 goodInput[4] = {};
    quint8 goodOutput[4] = {};
    quint16 swIn[4] = {};        // full port-addresses: Net << 8 | Sub << 4 | low nibble of SwIn
    quint16 swOut[4] = {};
    quint8 style = 0;
    qint64 firstSeenMs = 0;
    qint64 lastSeenMs = 0;
    int missedPolls = 0;         // polls sent since its last reply
    bool gone = false;           // missed three polls in a row
    bool self = false;           // the reply is this program's own (Poll Mode)
    bool addressMismatch() const { return packetAddress != sourceAddress; }
};

#endif // NODEINFO_H
