#ifndef TIMECODESOURCE_H
#define TIMECODESOURCE_H

#include <QHostAddress>
#include <QtGlobal>

#include <array>

// The last ArtTimeCode received from one sender; the five bytes exactly as they stood at
// offsets 14 to 18 of the packet.
struct TimeCodeSource
{
    quint8 frames = 0;
    quint8 seconds = 0;
    quint8 minutes = 0;
    quint8 hours = 0;
    quint8 type = 0;
    QHostAddress sender;
    qint64 lastSeenMs = -1;      // its last packet, on the census clock
    // Jumps: the time code went back, or ahead by more than one frame, while it ran; the last
    // one's values before and after (frames, seconds, minutes, hours).
    quint32 jumps = 0;
    std::array<quint8, 4> jumpedFrom = {};
    std::array<quint8, 4> jumpedTo = {};
};

#endif // TIMECODESOURCE_H
