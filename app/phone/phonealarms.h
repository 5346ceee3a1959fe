#ifndef PHONEALARMS_H
#define PHONEALARMS_H

class EventAlarms;
class PhoneServer;

namespace PhoneAlarms {
// From now on the server's pages are told the alarms not yet acknowledged whenever they change,
// and a page that connects gets them at once; for as long as both live.
void follow(EventAlarms *alarms, PhoneServer *server);
} // namespace PhoneAlarms

#endif // PHONEALARMS_H
