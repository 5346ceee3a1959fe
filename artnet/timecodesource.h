#ifndef TIMECODESOURCE_H
#define TIMECODESOURCE_H

#include <QHostAddress>
#include <QtGlobal>

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
};

#endif // TIMECODESOURCE_H
