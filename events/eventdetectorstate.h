#ifndef EVENTDETECTORSTATE_H
#define EVENTDETECTORSTATE_H

// What EventDetector keeps of each source, universe, sender, node and time code sender between
// its passes; its own files' business only.
#include "eventdetector.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <limits>

namespace EventDetectorState {
constexpr qint64 Never = std::numeric_limits<qint64>::min() / 2;
constexpr int ErrorSamples = 8; // passes of 250 ms: two seconds
} // namespace EventDetectorState

struct EventDetector::Tracked
{
    qint64 lastSeenMs = 0;
    qint64 settleFromMs = 0;   // when it appeared or came back
    quint64 pass = 0;
    quint64 lossSerial = 0;
    bool lost = false;
    quint8 priority = 0;
    quint32 stuttersReported = 0;
    qint64 stutterPeakMs = 0;
    qint64 stutterEventMs = EventDetectorState::Never;
    double settledHz = -1;
    qint64 deviatingSinceMs = -1;
    std::array<qint64, EventDetectorState::ErrorSamples> errorMs = {};
    std::array<quint32, EventDetectorState::ErrorSamples> errors = {};
    int errorNext = 0;
    int errorCount = 0;
    qint64 sequenceEventMs = EventDetectorState::Never;
};

struct EventDetector::UniverseState
{
    bool conflict = false;
    int live = 0;
    quint64 pass = 0;
};

struct EventDetector::SenderState
{
    quint64 reported = 0;
    qint64 eventMs = EventDetectorState::Never;
};

struct EventDetector::NodeState
{
    bool gone = false;
    quint64 pass = 0;
    quint32 packetAddress = 0;
    QString shortName;
    QString longName;
    QString report; // without its counter
    quint16 numPorts = 0;
    std::array<quint16, 4> swIn = {};
    std::array<quint16, 4> swOut = {};
    std::array<quint8, 4> portTypes = {};
};

struct EventDetector::TimeCodeState
{
    qint64 lastSeenMs = 0;
    quint32 jumps = 0;      // reported
    qint64 jumpEventMs = EventDetectorState::Never;
    bool running = false;
    quint64 pass = 0;
};

#endif // EVENTDETECTORSTATE_H
