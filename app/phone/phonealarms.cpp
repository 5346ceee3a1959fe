#include "phonealarms.h"

#include "eventalarms.h"
#include "eventtexts.h"
#include "phoneserver.h"

namespace {

void tell(const EventAlarms *alarms, PhoneServer *server)
{
    QList<PhoneAlarm> shown;
    for (const EventAlarms::Alarm &alarm : alarms->alarms())
        shown << PhoneAlarm{EventTexts::time(alarm.wallMs).left(8), alarm.text};
    server->setAlarms(shown);
}

} // namespace

void PhoneAlarms::follow(EventAlarms *alarms, PhoneServer *server)
{
    QObject::connect(alarms, &EventAlarms::changed, server,
                     [alarms, server] { tell(alarms, server); });
    tell(alarms, server);
}
