// The socket tests stand on this harness: it must give each of them a network of its own in
// which port 6454 is free, broadcasts leave without error and come back, and a second host
// (the peer namespace) can be reached. Nothing here may reach a real network.
#include "privatenetwork.h"

#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

class tst_PrivateNetwork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void onlyPrivateInterfaces();
    void receivesDatagramSentToItself_data();
    void receivesDatagramSentToItself();
    void peerIsAnotherHost();
};

void tst_PrivateNetwork::initTestCase()
{
    VARDOLUX_REQUIRE_PRIVATE_NETWORK();
}

void tst_PrivateNetwork::onlyPrivateInterfaces()
{
    QStringList names;
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces())
        names << interface.name();
    names.sort();
    QCOMPARE(names, (QStringList{QStringLiteral("art0"), QStringLiteral("lo")}));
}

void tst_PrivateNetwork::receivesDatagramSentToItself_data()
{
    QTest::addColumn<QString>("destination");
    QTest::newRow("loopback") << QStringLiteral("127.0.0.1");
    QTest::newRow("own veth address") << QString::fromLatin1(PrivateNetwork::LocalAddress);
    QTest::newRow("limited broadcast") << QStringLiteral("255.255.255.255");
    QTest::newRow("directed broadcast") << QStringLiteral("2.255.255.255");
}

void tst_PrivateNetwork::receivesDatagramSentToItself()
{
    QFETCH(QString, destination);
    QUdpSocket socket;
    QVERIFY2(socket.bind(QHostAddress::AnyIPv4, 6454), qPrintable(socket.errorString()));
    QSignalSpy readyRead(&socket, &QUdpSocket::readyRead);

    const QByteArray payload("Art-Net\0harness", 15);
    QCOMPARE(socket.writeDatagram(payload, QHostAddress(destination), 6454), qint64(payload.size()));
    QVERIFY(readyRead.wait(2000));

    QHostAddress sender;
    QByteArray received(int(socket.pendingDatagramSize()), '\0');
    socket.readDatagram(received.data(), received.size(), &sender);
    QCOMPARE(received, payload);
}

void tst_PrivateNetwork::peerIsAnotherHost()
{
    QUdpSocket local;
    QVERIFY2(local.bind(QHostAddress::AnyIPv4, 6454), qPrintable(local.errorString()));

    QString error;
    const int fd = PrivateNetwork::peerUdpSocket(QString(), 6454, &error);
    QVERIFY2(fd >= 0, qPrintable(error));
    QUdpSocket peer;
    QVERIFY(peer.setSocketDescriptor(fd));

    // The same port is free in the peer namespace although it is bound here: two hosts.
    QSignalSpy peerReadyRead(&peer, &QUdpSocket::readyRead);
    QCOMPARE(local.writeDatagram("to peer", QHostAddress(PrivateNetwork::PeerAddress), 6454), 7);
    QVERIFY(peerReadyRead.wait(2000));
    QHostAddress sender;
    char buffer[16] = {};
    QCOMPARE(peer.readDatagram(buffer, sizeof buffer, &sender), 7);
    QCOMPARE(sender, QHostAddress(PrivateNetwork::LocalAddress));

    QSignalSpy localReadyRead(&local, &QUdpSocket::readyRead);
    QCOMPARE(peer.writeDatagram("to local", QHostAddress::Broadcast, 6454), 8);
    QVERIFY(localReadyRead.wait(2000));
    QCOMPARE(local.readDatagram(buffer, sizeof buffer, &sender), 8);
    QCOMPARE(sender, QHostAddress(PrivateNetwork::PeerAddress));
}

QTEST_GUILESS_MAIN(tst_PrivateNetwork)
#include "tst_privatenetwork.moc"
