#ifndef EVENTTEXTS_H
#define EVENTTEXTS_H

#include "dmxevent.h"

#include <QCoreApplication>
#include <QString>

// How the log dock, its CSV export, the log file and the alarms name an event's parts.
class EventTexts
{
    Q_DECLARE_TR_FUNCTIONS(EventTexts)

public:
    // "Art-Net 1" (port-address 0, as the universe box numbers it) or "sACN 7".
    static QString universe(UniverseKey key);
    // Art-Net: address/Physical; sACN: the CID; then the sender's name, made visible as text.
    static QString source(const DmxEvent &event);
    // Local time of day, hh:mm:ss.zzz.
    static QString time(qint64 wallMs);
    // Local date and time to the millisecond, for files kept longer than a day.
    static QString dateTime(qint64 wallMs);
    // One line of the log file: fields apart by tabs, network text unable to end the line.
    static QString logLine(const DmxEvent &event);
};

#endif // EVENTTEXTS_H
