#include "eventtexts.h"

#include "networktexts.h"

#include <QDateTime>

QString EventTexts::universe(UniverseKey key)
{
    if (key.protocol == DmxProtocol::Sacn)
        return tr("sACN %1").arg(key.number);
    return tr("Art-Net %1").arg(int(key.number) + 1);
}

QString EventTexts::source(const DmxEvent &event)
{
    if (!event.hasSource)
        return NetworkTexts::visible(event.sourceName);
    const SourceIdentity &source = event.source;
    QString who = source.protocol == DmxProtocol::Sacn
            ? NetworkTexts::cid(source.cid)
            : QStringLiteral("%1/%2").arg(NetworkTexts::address(source.address))
                      .arg(source.physical);
    if (!event.sourceName.isEmpty())
        who += QLatin1Char(' ') + NetworkTexts::visible(event.sourceName);
    return who;
}

QString EventTexts::time(qint64 wallMs)
{
    return QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("hh:mm:ss.zzz"));
}

QString EventTexts::dateTime(qint64 wallMs)
{
    return QDateTime::fromMSecsSinceEpoch(wallMs).toString(Qt::ISODateWithMs);
}

QString EventTexts::logLine(const DmxEvent &event)
{
    const QString universeText = event.hasUniverse ? universe(event.universe) : QString();
    return QStringList{dateTime(event.wallMs), DmxEvent::kindText(event.kind), universeText,
                       source(event), NetworkTexts::visible(event.text)}
            .join(QLatin1Char('\t'));
}
