#ifndef PHONEMESSAGES_H
#define PHONEMESSAGES_H

#include "phonefeed.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The JSON text of the messages the phone view's page and the server exchange over /live.
// A universe is numbered as the window shows it: Art-Net from 1 (port-address + 1), sACN as
// its protocol numbers it.
namespace PhoneMessages {
QByteArray hello(const QString &version, int rateHz);
QByteArray universes(const QList<PhoneUniverse> &universes);
QByteArray timeCode(const QList<PhoneTimeCode> &timeCode);
QByteArray events(const QList<PhoneEvent> &events);
QByteArray alarms(const QList<PhoneAlarm> &alarms);
// All 512 levels; fewer that arrived are followed by zeros. out is rewritten, keeping its room.
void fullLevels(UniverseKey universe, const uchar *levels, QByteArray *out);
// The channels whose level differs between the two sets of 512; false, out left empty, when
// none does.
bool changedLevels(UniverseKey universe, const uchar *before, const uchar *now, QByteArray *out);
// The one message a page sends: {"t":"follow","p":"artnet"|"sacn","u":NUMBER}. False for
// anything else, or a universe outside its protocol's range.
bool readFollow(const QByteArray &text, UniverseKey *universe);
int shownNumber(UniverseKey universe);
} // namespace PhoneMessages

#endif // PHONEMESSAGES_H
