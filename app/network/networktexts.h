#ifndef NETWORKTEXTS_H
#define NETWORKTEXTS_H

#include <QColor>
#include <QCoreApplication>
#include <QString>
#include <QtGlobal>

// The texts and colours that the network view's tables and the status-bar indicator share.
class NetworkTexts
{
    Q_DECLARE_TR_FUNCTIONS(NetworkTexts)

public:
    // A packet this old or older no longer keeps its sender live (the Art-Net keep-alive).
    static constexpr qint64 LiveForMs = 4000;

    static QString address(quint32 ipv4);
    // "now" below a second, then whole seconds, minutes and hours; empty when never seen.
    static QString age(qint64 lastSeenMs, qint64 nowMs);
    static QString rate(double hertz);
    static QString netSubUni(quint16 portAddress);
    static QString mac(const quint8 *mac);
    // Two or more senders on one universe: the commonest reason for flickering lights.
    static QColor warningColour();
    // Rows of senders and nodes that went silent.
    static QColor staleColour();
};

#endif // NETWORKTEXTS_H
