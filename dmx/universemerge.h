#ifndef UNIVERSEMERGE_H
#define UNIVERSEMERGE_H

#include "dmxframe.h"
#include "sourceidentity.h"

#include <QList>
#include <QString>

#include <array>

// One stored source of the universe on show with its own levels, as a view's snapshot.
struct MergeSourceLevels
{
    SourceIdentity identity;
    QString label;               // its address (and Physical when it differs), or sACN name and IP
    bool live = false;           // Art-Net: a packet within 4 s; sACN: 2.5 s
    bool inMerge = false;        // Art-Net: a packet within 10 s; sACN: live and taking part
    bool droppedByNode = false;  // Art-Net: a node merging only two sources would ignore it
    quint8 priority = 0;         // sACN
    quint16 count = 0;           // channels its last frame carried; beyond them it takes no part
    std::array<quint8, DmxFrame::MaxChannels> levels = {};
};

// The sources of the universe on show and their merge, copied on a view's timer.
struct UniverseMerge
{
    UniverseKey universe;
    QList<MergeSourceLevels> sources;                  // in order of first arrival
    std::array<quint8, DmxFrame::MaxChannels> merged = {};
    quint16 mergedCount = 0;
    std::array<qint8, DmxFrame::MaxChannels> winner = {}; // index into sources; -1 none
    int differingChannels = 0;                         // where live sources' levels differ
};

// One packet's level of the traced channel from one source.
struct SourceTraceSample
{
    qint64 timeNs = 0;
    quint8 level = 0;
};

#endif // UNIVERSEMERGE_H
