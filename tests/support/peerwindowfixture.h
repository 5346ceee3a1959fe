#ifndef PEERWINDOWFIXTURE_H
#define PEERWINDOWFIXTURE_H

#include "windowfixture.h"

#include "privatenetwork.h"

#include <QHostAddress>
#include <QUdpSocket>

// What the window's end-to-end tests share beyond WindowFixture: a socket in the peer namespace
// on the Art-Net port, the console or node at the other end of the cable, and the state most of
// them start from, the window recording universe 1 (or another universe on show) with the peer
// ready to send to it.
//
// Header only, as WindowFixture.
class PeerWindowFixture : public WindowFixture
{
protected:
    static constexpr quint16 ArtNetPort = 6454;
    static constexpr quint16 SacnPort = 5568;

    // Null, with the reason as a warning, when the peer namespace refuses the socket.
    static std::unique_ptr<QUdpSocket> openPeerSocket()
    {
        QString error;
        const int descriptor = PrivateNetwork::peerUdpSocket(QString(), ArtNetPort, &error);
        if (descriptor < 0) {
            qWarning("peer socket: %s", qPrintable(error));
            return nullptr;
        }
        auto socket = std::make_unique<QUdpSocket>();
        if (!socket->setSocketDescriptor(descriptor))
            return nullptr;
        return socket;
    }

    // Opens the peer's socket, makes the window and starts Record. True once the first refresh
    // has shown an empty universe ("no data" in every cell), so that whatever the peer sends
    // from then on is news to the table.
    bool startRecording(std::unique_ptr<QUdpSocket> &peer, std::unique_ptr<Vardolux> &window,
                        UniverseKey onShow = {DmxProtocol::ArtNet, 0})
    {
        peer = openPeerSocket();
        if (!peer)
            return false;
        window = makeWindow();
        window->showUniverse(onShow);
        window->recordAction->trigger();
        return QTest::qWaitFor([&] { return cellText(*window, 0, 0) == QLatin1String("no data"); });
    }

    // From the peer to the window's host, on the Art-Net port or another.
    static bool sendToWindow(QUdpSocket &peer, const QByteArray &datagram,
                             quint16 port = ArtNetPort)
    {
        return peer.writeDatagram(datagram, QHostAddress(PrivateNetwork::LocalAddress), port)
                == datagram.size();
    }
};

#endif // PEERWINDOWFIXTURE_H
