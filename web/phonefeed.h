#ifndef PHONEFEED_H
#define PHONEFEED_H

#include "dmxframe.h"

#include <QList>
#include <QString>
#include <QtGlobal>

// What the phone view shows, as the program sees it: the server asks, the program answers.
// Universes are named as on the wire (an Art-Net port-address, an sACN universe).
struct PhoneSource
{
    QString address;
    QString name;      // network text
    int priority = -1; // sACN only; -1: the protocol carries none
    double rateHz = 0;
    bool live = false;
};

struct PhoneUniverse
{
    UniverseKey key;
    QString label; // "Art-Net 1", "sACN 7"
    double rateHz = 0;
    bool conflict = false;
    bool live = false;
    QList<PhoneSource> sources;
};

struct PhoneTimeCode
{
    QString sender;
    QString time; // "01:02:03:04"
    QString type; // "SMPTE 30"
};

struct PhoneCensus
{
    QList<PhoneUniverse> universes;
    QList<PhoneTimeCode> timeCode;
};

struct PhoneEvent
{
    QString time;
    QString kind;
    QString universe;
    QString source;
    QString text;
};

struct PhoneAlarm
{
    QString time;
    QString text;
};

class PhoneFeed
{
public:
    virtual ~PhoneFeed() = default;
    // While the server runs: the program listens to the network whatever else it does.
    virtual void setListening(bool listening) = 0;
    virtual PhoneCensus census() const = 0;
    // The universes the pages follow now; their levels are asked for at every push.
    virtual void setFollowed(const QList<UniverseKey> &universes) = 0;
    // The latest levels of a followed universe; length in: room, out: bytes copied.
    virtual bool readLevels(UniverseKey universe, uchar *levels, quint16 *length) = 0;
    // The events logged since the last call, oldest first, at most atMost of the newest;
    // after setListening(true), those already in the log.
    virtual QList<PhoneEvent> newEvents(int atMost) = 0;
};

#endif // PHONEFEED_H
