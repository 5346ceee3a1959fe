#include "sessionphonefeed.h"

#include "capturesession.h"
#include "eventlog.h"
#include "eventtexts.h"
#include "networktexts.h"
#include "phonemessages.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

QString timeCodeType(quint8 type)
{
    switch (type) {
    case 0:
        return QCoreApplication::translate("TimeCodeTableModel", "Film 24");
    case 1:
        return QCoreApplication::translate("TimeCodeTableModel", "EBU 25");
    case 2:
        return QCoreApplication::translate("TimeCodeTableModel", "DF 29.97");
    case 3:
        return QCoreApplication::translate("TimeCodeTableModel", "SMPTE 30");
    default:
        return QCoreApplication::translate("TimeCodeTableModel", "type %1").arg(int(type));
    }
}

QString sourceName(const DmxSource &source, UniverseKey universe, const CensusSnapshot &census)
{
    if (source.protocol == DmxProtocol::Sacn) {
        for (const SacnSourceInfo &info : census.sacnSources) {
            if (info.universe == universe.number && info.cid == source.cid)
                return info.name;
        }
        return QString();
    }
    for (const NodeInfo &node : census.nodes) {
        if (node.sourceAddress == source.address)
            return node.shortName;
    }
    return QString();
}

} // namespace

SessionPhoneFeed::SessionPhoneFeed(CaptureSession *session, std::function<void()> sessionNeeded)
    : m_session(session), m_sessionNeeded(std::move(sessionNeeded))
{
}

SessionPhoneFeed::~SessionPhoneFeed()
{
    setListening(false);
}

void SessionPhoneFeed::setListening(bool listening)
{
    if (listening == m_listening)
        return;
    m_listening = listening;
    m_eventSerial = 0;
    if (listening) {
        if (!m_session->started() && m_sessionNeeded)
            m_sessionNeeded();
        m_session->startListening();
    } else {
        m_session->stopListening();
    }
}

PhoneCensus SessionPhoneFeed::census() const
{
    PhoneCensus census;
    if (!m_session->started())
        return census;
    const CensusSnapshot snapshot = m_session->census();
    for (const UniverseTraffic &traffic : snapshot.universes) {
        PhoneUniverse universe;
        universe.key = UniverseKey{traffic.protocol, traffic.portAddress};
        universe.label = NetworkTexts::protocol(traffic.protocol) + QLatin1Char(' ')
                + QString::number(PhoneMessages::shownNumber(universe.key));
        universe.rateHz = traffic.rateHz;
        universe.conflict = traffic.conflict();
        universe.live = traffic.liveSources > 0;
        for (const DmxSource &source : m_session->sources(universe.key)) {
            PhoneSource entry;
            entry.address = NetworkTexts::address(source.address);
            entry.name = sourceName(source, universe.key, snapshot);
            entry.priority = source.protocol == DmxProtocol::Sacn ? source.priority : -1;
            entry.rateHz = source.rateHz;
            entry.live = source.live;
            universe.sources << entry;
        }
        census.universes << universe;
    }
    for (const TimeCodeSource &source : snapshot.timeCode) {
        census.timeCode << PhoneTimeCode{
                source.sender.toString(),
                QStringLiteral("%1:%2:%3:%4")
                        .arg(int(source.hours), 2, 10, QLatin1Char('0'))
                        .arg(int(source.minutes), 2, 10, QLatin1Char('0'))
                        .arg(int(source.seconds), 2, 10, QLatin1Char('0'))
                        .arg(int(source.frames), 2, 10, QLatin1Char('0')),
                timeCodeType(source.type)};
    }
    return census;
}

void SessionPhoneFeed::setFollowed(const QList<UniverseKey> &universes)
{
    m_session->setFollowedUniverses(universes);
}

bool SessionPhoneFeed::readLevels(UniverseKey universe, uchar *levels, quint16 *length)
{
    return m_session->readFollowedLevels(universe, levels, length);
}

QList<PhoneEvent> SessionPhoneFeed::newEvents(int atMost)
{
    const EventLog *log = m_session->eventLog();
    QList<PhoneEvent> events;
    if (!log || log->lastSerial() <= m_eventSerial)
        return events;
    const quint64 count = std::min<quint64>({log->lastSerial() - m_eventSerial, quint64(atMost),
                                             quint64(log->count())});
    m_eventSerial = log->lastSerial();
    for (int index = int(count) - 1; index >= 0; --index) {
        const DmxEvent &event = log->newest(index);
        events << PhoneEvent{EventTexts::time(event.wallMs).left(8),
                             DmxEvent::kindText(event.kind),
                             event.hasUniverse ? EventTexts::universe(event.universe) : QString(),
                             event.hasSource ? EventTexts::source(event) : QString(),
                             event.text};
    }
    return events;
}
