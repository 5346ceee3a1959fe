#include "phonemessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

constexpr int Channels = 512;

QString protocolName(DmxProtocol protocol)
{
    return protocol == DmxProtocol::Sacn ? QStringLiteral("sacn") : QStringLiteral("artnet");
}

double tenths(double value)
{
    return std::round(value * 10) / 10;
}

QByteArray message(const char *type, const char *key, const QJsonArray &list)
{
    QJsonObject object{{QStringLiteral("t"), QLatin1String(type)}, {QLatin1String(key), list}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The start of a levels message, up to the opening bracket of its array.
void startLevels(UniverseKey universe, const char *array, QByteArray *out)
{
    out->resize(0);
    out->append(R"({"t":"levels","p":")");
    out->append(universe.protocol == DmxProtocol::Sacn ? "sacn" : "artnet");
    out->append(R"(","u":)");
    out->append(QByteArray::number(PhoneMessages::shownNumber(universe)));
    out->append(R"(,")");
    out->append(array);
    out->append(R"(":[)");
}

void appendNumber(int value, QByteArray *out)
{
    char digits[12];
    int length = 0;
    do {
        digits[length++] = char('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (length > 0)
        out->append(digits[--length]);
}

} // namespace

int PhoneMessages::shownNumber(UniverseKey universe)
{
    return universe.protocol == DmxProtocol::ArtNet ? int(universe.number) + 1
                                                    : int(universe.number);
}

QByteArray PhoneMessages::hello(const QString &version, int rateHz)
{
    QJsonObject object{{QStringLiteral("t"), QStringLiteral("hello")},
                       {QStringLiteral("program"), QStringLiteral("Vardolux")},
                       {QStringLiteral("version"), version},
                       {QStringLiteral("rateHz"), rateHz}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray PhoneMessages::universes(const QList<PhoneUniverse> &universes)
{
    QJsonArray list;
    for (const PhoneUniverse &universe : universes) {
        QJsonArray sources;
        for (const PhoneSource &source : universe.sources) {
            QJsonObject entry{{QStringLiteral("addr"), source.address},
                              {QStringLiteral("name"), source.name},
                              {QStringLiteral("rate"), tenths(source.rateHz)},
                              {QStringLiteral("live"), source.live}};
            if (source.priority >= 0)
                entry.insert(QStringLiteral("prio"), source.priority);
            sources.append(entry);
        }
        list.append(QJsonObject{{QStringLiteral("p"), protocolName(universe.key.protocol)},
                                {QStringLiteral("u"), shownNumber(universe.key)},
                                {QStringLiteral("label"), universe.label},
                                {QStringLiteral("rate"), tenths(universe.rateHz)},
                                {QStringLiteral("conflict"), universe.conflict},
                                {QStringLiteral("live"), universe.live},
                                {QStringLiteral("sources"), sources}});
    }
    return message("universes", "list", list);
}

QByteArray PhoneMessages::timeCode(const QList<PhoneTimeCode> &timeCode)
{
    QJsonArray list;
    for (const PhoneTimeCode &entry : timeCode) {
        list.append(QJsonObject{{QStringLiteral("sender"), entry.sender},
                                {QStringLiteral("tc"), entry.time},
                                {QStringLiteral("type"), entry.type}});
    }
    return message("timecode", "list", list);
}

QByteArray PhoneMessages::events(const QList<PhoneEvent> &events)
{
    QJsonArray list;
    for (const PhoneEvent &event : events) {
        list.append(QJsonObject{{QStringLiteral("time"), event.time},
                                {QStringLiteral("kind"), event.kind},
                                {QStringLiteral("universe"), event.universe},
                                {QStringLiteral("source"), event.source},
                                {QStringLiteral("text"), event.text}});
    }
    return message("events", "list", list);
}

QByteArray PhoneMessages::alarms(const QList<PhoneAlarm> &alarms)
{
    QJsonArray list;
    for (const PhoneAlarm &alarm : alarms) {
        list.append(QJsonObject{{QStringLiteral("time"), alarm.time},
                                {QStringLiteral("text"), alarm.text}});
    }
    return message("alarms", "list", list);
}

void PhoneMessages::fullLevels(UniverseKey universe, const uchar *levels, QByteArray *out)
{
    startLevels(universe, "full", out);
    for (int channel = 0; channel < Channels; ++channel) {
        if (channel > 0)
            out->append(',');
        appendNumber(levels[channel], out);
    }
    out->append("]}");
}

bool PhoneMessages::changedLevels(UniverseKey universe, const uchar *before, const uchar *now,
                                  QByteArray *out)
{
    bool changed = false;
    for (int channel = 0; channel < Channels; ++channel) {
        if (before[channel] == now[channel])
            continue;
        if (!changed)
            startLevels(universe, "ch", out);
        else
            out->append(',');
        changed = true;
        out->append('[');
        appendNumber(channel, out);
        out->append(',');
        appendNumber(now[channel], out);
        out->append(']');
    }
    if (!changed)
        out->resize(0);
    else
        out->append("]}");
    return changed;
}

bool PhoneMessages::readFollow(const QByteArray &text, UniverseKey *universe)
{
    const QJsonObject object = QJsonDocument::fromJson(text).object();
    const QJsonValue number = object.value(QStringLiteral("u"));
    if (object.value(QStringLiteral("t")).toString() != QStringLiteral("follow")
        || !number.isDouble() || number.toDouble() != std::floor(number.toDouble()))
        return false;
    const double shown = number.toDouble();
    const QString protocol = object.value(QStringLiteral("p")).toString();
    if (protocol == QStringLiteral("artnet") && shown >= 1 && shown <= 32768) {
        *universe = UniverseKey{DmxProtocol::ArtNet, quint16(shown - 1)};
        return true;
    }
    if (protocol == QStringLiteral("sacn") && shown >= 1 && shown <= 63999) {
        *universe = UniverseKey{DmxProtocol::Sacn, quint16(shown)};
        return true;
    }
    return false;
}
