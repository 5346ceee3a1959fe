#include "networktexts.h"

#include <QByteArray>
#include <QHostAddress>
#include <QUuid>

#include <algorithm>

QString NetworkTexts::address(quint32 ipv4)
{
    return QHostAddress(ipv4).toString();
}

QString NetworkTexts::age(qint64 lastSeenMs, qint64 nowMs)
{
    if (lastSeenMs <= 0)
        return QString();
    const qint64 seconds = std::max<qint64>(0, nowMs - lastSeenMs) / 1000;
    if (seconds < 1)
        return tr("now");
    if (seconds < 60)
        return tr("%1 s ago").arg(seconds);
    if (seconds < 3600)
        return tr("%1 min ago").arg(seconds / 60);
    return tr("%1 h ago").arg(seconds / 3600);
}

QString NetworkTexts::rate(double hertz)
{
    // Keep-alive senders repeat below 1 Hz; a show rate needs no decimals.
    return tr("%1 Hz").arg(hertz, 0, 'f', hertz < 10 ? 1 : 0);
}

QString NetworkTexts::netSubUni(quint16 portAddress)
{
    return QStringLiteral("%1:%2:%3")
            .arg((portAddress >> 8) & 0x7f)
            .arg((portAddress >> 4) & 0x0f)
            .arg(portAddress & 0x0f);
}

QString NetworkTexts::mac(const quint8 *mac)
{
    return QStringLiteral("%1:%2:%3:%4:%5:%6")
            .arg(int(mac[0]), 2, 16, QLatin1Char('0'))
            .arg(int(mac[1]), 2, 16, QLatin1Char('0'))
            .arg(int(mac[2]), 2, 16, QLatin1Char('0'))
            .arg(int(mac[3]), 2, 16, QLatin1Char('0'))
            .arg(int(mac[4]), 2, 16, QLatin1Char('0'))
            .arg(int(mac[5]), 2, 16, QLatin1Char('0'));
}

QString NetworkTexts::protocol(DmxProtocol protocol)
{
    return protocol == DmxProtocol::Sacn ? QStringLiteral("sACN") : QStringLiteral("Art-Net");
}

QString NetworkTexts::cid(const std::array<quint8, SourceIdentity::CidSize> &cid)
{
    const QByteArray bytes(reinterpret_cast<const char *>(cid.data()), int(cid.size()));
    return QUuid::fromRfc4122(bytes).toString(QUuid::WithoutBraces);
}

QString NetworkTexts::visible(const QString &networkText)
{
    constexpr char16_t ControlPictures = 0x2400; // U+2400 pictures U+0000, U+2401 U+0001, ...
    constexpr char16_t DeletePicture = 0x2421;
    QString shown = networkText;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const char16_t code = shown.at(i).unicode();
        if (code < 0x20)
            shown[i] = QChar(char16_t(ControlPictures + code));
        else if (code == 0x7f)
            shown[i] = QChar(DeletePicture);
        else if ((code >= 0x80 && code < 0xa0) || (code >= 0x202a && code <= 0x202e)
                 || (code >= 0x2066 && code <= 0x2069))
            shown[i] = QChar::ReplacementCharacter;
    }
    return shown;
}

QColor NetworkTexts::warningColour()
{
    return QColor(0xd0, 0x20, 0x10);
}

QColor NetworkTexts::staleColour()
{
    return QColor(0x80, 0x80, 0x80);
}
