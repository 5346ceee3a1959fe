#ifndef DMXEVENT_H
#define DMXEVENT_H

#include "dmxframe.h"
#include "sourceidentity.h"

#include <QString>
#include <QtGlobal>

#include <array>

// Something that happened on the lighting network or to the program itself, worth a line in the
// log: what a technician would have seen had they been watching at that moment.
enum class DmxEventKind : quint8 {
    SourceAppeared,
    SourceLost,       // no packet for the protocol's keep-alive limit
    SourceResumed,    // gapMs: how long it was silent
    ConflictStarted,  // a second live source on a universe
    ConflictEnded,
    Stutter,          // gapMs: the longest interval; count: how many since the last event
    RateChanged,
    SequenceErrors,   // count: in the last second
    Malformed,        // count: since the last event of the sender
    NodeAppeared,
    NodeGone,         // missed three polls
    NodeBack,
    NodeChanged,
    TimeCodeStarted,
    TimeCodeStopped,
    TimeCodeJumped,
    PortBusy,
    PortShared,
    NetworkUp,
    NetworkDown,
    CaptureStarted,
    CaptureEnded,
};
constexpr int DmxEventKindCount = int(DmxEventKind::CaptureEnded) + 1;

struct DmxEvent
{
    qint64 wallMs = 0;           // milliseconds since the epoch, UTC, when it was detected
    qint64 clockMs = 0;          // on the census clock
    DmxEventKind kind = DmxEventKind::SourceAppeared;
    bool hasUniverse = false;
    UniverseKey universe;        // its protocol also when no universe is named
    bool hasSource = false;
    SourceIdentity source;       // who, as the census tells sources apart
    QString sourceName;          // a node's or sACN source's name: network text, shown as text
    QString text;                // the short line a person reads
    qint64 gapMs = 0;
    quint32 count = 0;
    // A source lost with no other live source left on its universe: the universe went dark.
    bool universeSilent = false;

    // "Source appeared", "Source lost", ...: the kind as the log and its filter name it.
    static QString kindText(DmxEventKind kind);
};

#endif // DMXEVENT_H
