#ifndef NETWORKTEXTS_H
#define NETWORKTEXTS_H

#include "sourceidentity.h"

#include <QColor>
#include <QCoreApplication>
#include <QString>
#include <QtGlobal>

#include <array>

// The texts and colours that the network view's tables and the status-bar indicator share.
class NetworkTexts
{
    Q_DECLARE_TR_FUNCTIONS(NetworkTexts)

public:
    // A packet this old or older no longer keeps its sender live (the Art-Net keep-alive).
    static constexpr qint64 LiveForMs = 4000;
    // The highest sACN priority; a receiver passes over packets that claim more.
    static constexpr int MaxSacnPriority = 200;

    static QString address(quint32 ipv4);
    // "now" below a second, then whole seconds, minutes and hours; empty when never seen.
    static QString age(qint64 lastSeenMs, qint64 nowMs);
    static QString rate(double hertz);
    static QString netSubUni(quint16 portAddress);
    static QString mac(const quint8 *mac);
    // "Art-Net" or "sACN", as the Protocol column and the indicator name them.
    static QString protocol(DmxProtocol protocol);
    // An sACN component identifier as a UUID: 8-4-4-4-12 hexadecimal digits.
    static QString cid(const std::array<quint8, SourceIdentity::CidSize> &cid);
    // Text a sender chose (an sACN source name), fit to show as plain text: control characters
    // become their visible symbols and direction overrides, which would reorder the cells
    // around it, become U+FFFD.
    static QString visible(const QString &networkText);
    // Two or more senders on one universe: the commonest reason for flickering lights.
    static QColor warningColour();
    // Rows of senders and nodes that went silent.
    static QColor staleColour();
};

#endif // NETWORKTEXTS_H
