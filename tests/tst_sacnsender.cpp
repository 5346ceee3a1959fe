// The sACN sender on a private network: what it sends is read in the peer namespace, by a socket
// that joined the universes' groups there, and decoded with the program's own reader.
#include "privatenetwork.h"
#include "sacnmessage.h"
#include "sacnpackets.h"
#include "sacnsender.h"

#include <QNetworkProxy>
#include <QTest>
#include <QUdpSocket>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

QByteArray pattern(int size)
{
    QByteArray levels(size, '\0');
    for (int i = 0; i < size; ++i)
        levels[i] = char(quint8(7 + 13 * i));
    return levels;
}

} // namespace

class tst_sacnsender : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void packetSaysWhatWasSet_data();
    void packetSaysWhatWasSet();
    void refusedSendsLeaveTheWireQuiet_data();
    void refusedSendsLeaveTheWireQuiet();
    void sequenceWrapsAndRepeatsFollow();
    void streamEndsTerminated_data();
    void streamEndsTerminated();

private:
    // Whether a datagram is heard in the peer namespace within the time, the sender's timer
    // running meanwhile.
    bool arrives(int timeoutMs);
    // The next datagram heard there, decoded; false when none came in time.
    bool receive(QByteArray *datagram, SacnMessage *message, int timeoutMs = 2000);

    std::unique_ptr<QUdpSocket> m_listener;
};

void tst_sacnsender::initTestCase()
{
    VARDOLUX_REQUIRE_PRIVATE_NETWORK();
    QString error;
    const int fd = PrivateNetwork::peerUdpSocket(QString(), SacnPackets::Port, &error);
    QVERIFY2(fd >= 0, qPrintable(error));
    for (const quint32 universe : {1u, 2u, 9u, 63999u}) {
        ip_mreqn membership = {};
        membership.imr_multiaddr.s_addr = htonl(0xEFFF0000u | universe);
        membership.imr_address.s_addr = htonl(0x02000014u); // 2.0.0.20 on art1
        QCOMPARE(::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership), 0);
    }
    m_listener = std::make_unique<QUdpSocket>();
    m_listener->setProxy(QNetworkProxy::NoProxy);
    QVERIFY(m_listener->setSocketDescriptor(fd, QUdpSocket::BoundState));
}

void tst_sacnsender::init()
{
    while (m_listener->hasPendingDatagrams())
        m_listener->readDatagram(nullptr, 0);
}

bool tst_sacnsender::arrives(int timeoutMs)
{
    return QTest::qWaitFor([this] { return m_listener->hasPendingDatagrams(); }, timeoutMs);
}

bool tst_sacnsender::receive(QByteArray *datagram, SacnMessage *message, int timeoutMs)
{
    if (!arrives(timeoutMs))
        return false;
    datagram->resize(int(m_listener->pendingDatagramSize()));
    m_listener->readDatagram(datagram->data(), datagram->size());
    SacnPackets::readDatagram(reinterpret_cast<const uchar *>(datagram->constData()),
                              datagram->size(), 0, 0, message);
    return true;
}

void tst_sacnsender::packetSaysWhatWasSet_data()
{
    QTest::addColumn<QString>("name");       // empty: the default
    QTest::addColumn<QByteArray>("wireName");
    QTest::addColumn<QVariant>("priority"); // none: the default
    QTest::addColumn<int>("wirePriority");
    QTest::addColumn<int>("slotCount");
    QTest::addColumn<quint16>("universe");

    const QString a61 = QString(61, QLatin1Char('a'));
    QTest::newRow("defaults: the program's name at 100, a whole universe")
            << QString() << QByteArray("Vardolux") << QVariant() << 100 << 512 << quint16(1);
    QTest::newRow("one slot on the last universe")
            << QStringLiteral("Desk") << QByteArray("Desk") << QVariant(0) << 0 << 1 << quint16(63999);
    QTest::newRow("priority above 200 clamped")
            << QStringLiteral("Desk") << QByteArray("Desk") << QVariant(250) << 200 << 3 << quint16(2);
    QTest::newRow("negative priority clamped")
            << QStringLiteral("Desk") << QByteArray("Desk") << QVariant(-5) << 0 << 3 << quint16(2);
    QTest::newRow("64 ASCII bytes cut to 63")
            << QString(64, QLatin1Char('n')) << QByteArray(63, 'n') << QVariant(150) << 150 << 3 << quint16(2);
    QTest::newRow("two-byte character across byte 63 left out whole")
            << a61 + QStringLiteral("a\u00e9") << (a61 + QStringLiteral("a")).toUtf8() << QVariant(150) << 150
            << 3 << quint16(2);
    QTest::newRow("three-byte character ending on byte 63 kept")
            << QString(60, QLatin1Char('a')) + QStringLiteral("\u20ac")
            << (QString(60, QLatin1Char('a')) + QStringLiteral("\u20ac")).toUtf8() << QVariant(150) << 150 << 3
            << quint16(2);
    QTest::newRow("four-byte character across byte 63 left out whole")
            << a61 + QStringLiteral("\U0001F600") << a61.toUtf8() << QVariant(150) << 150 << 3 << quint16(2);
}

void tst_sacnsender::packetSaysWhatWasSet()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, wireName);
    QFETCH(QVariant, priority);
    QFETCH(int, wirePriority);
    QFETCH(int, slotCount);
    QFETCH(quint16, universe);

    SacnSender sender;
    if (!name.isEmpty())
        sender.setSourceName(name);
    if (priority.isValid())
        sender.setPriority(priority.toInt());
    const QByteArray levels = pattern(slotCount);
    QCOMPARE(sender.send(levels, universe), qint64(126 + slotCount));
    QCOMPARE(sender.sendingUniverse(), universe);
    QCOMPARE(sender.sendNetworks(), QStringList{QStringLiteral("2.0.0.0/8")});
    QCOMPARE(sender.priority(), wirePriority);

    QByteArray datagram;
    SacnMessage message;
    QVERIFY2(receive(&datagram, &message), "nothing arrived in the peer namespace");
    QCOMPARE(datagram.size(), 126 + slotCount);
    QCOMPARE(int(message.kind), int(SacnMessage::Kind::Data));
    QCOMPARE(message.frame.universe.number, universe);
    QCOMPARE(int(message.frame.priority), wirePriority);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(message.sourceName), message.sourceNameSize),
             wireName);
    QCOMPARE(message.frame.sequence, quint8(0));
    QCOMPARE(message.options, quint8(0));
    // Every sender on this computer is the same source: a name-based (version 5) UUID.
    QVERIFY(message.frame.source.cid == SacnSender::machineCid());
    QCOMPARE(message.frame.source.cid[6] >> 4, 5);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(message.frame.levels), message.frame.count),
             levels);
    sender.stop();
}

void tst_sacnsender::refusedSendsLeaveTheWireQuiet_data()
{
    QTest::addColumn<int>("slotCount");
    QTest::addColumn<quint16>("universe");
    QTest::newRow("universe 0") << 512 << quint16(0);
    QTest::newRow("universe 64000") << 512 << quint16(64000);
    QTest::newRow("no levels") << 0 << quint16(1);
    QTest::newRow("513 levels") << 513 << quint16(1);
}

void tst_sacnsender::refusedSendsLeaveTheWireQuiet()
{
    QFETCH(int, slotCount);
    QFETCH(quint16, universe);
    SacnSender sender;
    QVERIFY(sender.send(pattern(slotCount), universe) < 0);
    QCOMPARE(sender.sendingUniverse(), quint16(0));
    QVERIFY(sender.sendNetworks().isEmpty());
    QVERIFY(!arrives(SacnSender::RepeatMs + 200));
}

// Every send is a packet of the stream: 257 of them take the sequence round from 0 to 255 and
// on to 0, and the repeat that follows carries the next number and the same levels.
void tst_sacnsender::sequenceWrapsAndRepeatsFollow()
{
    SacnSender sender;
    const QByteArray levels = pattern(4);
    QByteArray datagram;
    SacnMessage message;
    for (int i = 0; i <= 256; ++i) {
        QVERIFY(sender.send(levels, 9) > 0);
        QVERIFY2(receive(&datagram, &message), qPrintable(QStringLiteral("packet %1 lost").arg(i)));
        QCOMPARE(int(message.frame.sequence), i % 256);
    }
    QVERIFY2(receive(&datagram, &message, SacnSender::RepeatMs + 300), "no repeat came");
    QCOMPARE(message.frame.sequence, quint8(1));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(message.frame.levels), message.frame.count),
             levels);
    sender.stop();
}

void tst_sacnsender::streamEndsTerminated_data()
{
    QTest::addColumn<QString>("ending");
    QTest::newRow("stop") << QStringLiteral("stop");
    QTest::newRow("another universe") << QStringLiteral("universe");
    QTest::newRow("sender destroyed") << QStringLiteral("destroy");
}

// Three packets with the stream-terminated option, for the universe that was being sent, with
// its levels and the sequence going on; then nothing more of that stream.
void tst_sacnsender::streamEndsTerminated()
{
    QFETCH(QString, ending);
    auto sender = std::make_unique<SacnSender>();
    const QByteArray levels = pattern(3);
    QVERIFY(sender->send(levels, 1) > 0);
    QVERIFY(sender->send(levels, 1) > 0);
    if (ending == QLatin1String("stop"))
        sender->stop();
    else if (ending == QLatin1String("universe"))
        QVERIFY(sender->send(pattern(5), 2) > 0);
    else
        sender.reset();

    QByteArray datagram;
    SacnMessage message;
    for (int i = 0; i < 2; ++i)
        QVERIFY(receive(&datagram, &message));
    for (int i = 0; i < SacnSender::TerminatedPackets; ++i) {
        QVERIFY2(receive(&datagram, &message), "a stream-terminated packet is missing");
        QVERIFY(message.streamTerminated());
        QCOMPARE(message.frame.universe.number, quint16(1));
        QCOMPARE(int(message.frame.sequence), 2 + i);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(message.frame.levels), 3), levels);
    }
    if (ending == QLatin1String("universe")) {
        QVERIFY(receive(&datagram, &message));
        QCOMPARE(message.frame.universe.number, quint16(2));
        QCOMPARE(message.frame.sequence, quint8(0));
        QVERIFY(!message.streamTerminated());
        QCOMPARE(sender->sendingUniverse(), quint16(2));
        sender->stop();
        return;
    }
    QVERIFY(!sender || sender->sendingUniverse() == 0);
    QVERIFY2(!arrives(SacnSender::RepeatMs + 300), "sent after its end");
}

QTEST_GUILESS_MAIN(tst_sacnsender)
#include "tst_sacnsender.moc"
