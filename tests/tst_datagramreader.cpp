// DatagramReader empties a UDP socket behind QUdpSocket's back. What can go wrong: datagrams
// lost, merged or reordered at batch boundaries, a long datagram spilling into the next slot,
// a wrong sender, and QUdpSocket falling silent because its own read calls were bypassed.
#include "datagramreader.h"
#include "privatenetwork.h"

#include <QList>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

namespace {

struct Received
{
    QByteArray data;
    QHostAddress sender;
};

// A payload that tells its index and length apart from every other one.
QByteArray payload(int index, int length)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char(quint8(index * 7 + i));
    return bytes;
}

} // namespace

class tst_DatagramReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void drainsInBatches_data();
    void drainsInBatches();
    void cutsDatagramLongerThanSlot_data();
    void cutsDatagramLongerThanSlot();
    void readyReadKeepsComingAfterDrains();
    void reportsSenders_data();
    void reportsSenders();
    void oneReaderForSeveralSockets();
    void drainFromWithinHandlerIsRefused();
    void emptyOrUnboundSocket();

private:
    static bool bindReceiver(QUdpSocket &socket, const QHostAddress &address);
};

void tst_DatagramReader::initTestCase()
{
    VARDOLUX_REQUIRE_PRIVATE_NETWORK();
}

bool tst_DatagramReader::bindReceiver(QUdpSocket &socket, const QHostAddress &address)
{
    if (!socket.bind(address, 0))
        return false;
    // Room for every datagram a test queues before it drains.
    socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 20);
    return true;
}

void tst_DatagramReader::drainsInBatches_data()
{
    QTest::addColumn<int>("batchSize");
    QTest::addColumn<int>("count");

    QTest::newRow("one datagram") << 8 << 1;
    QTest::newRow("one less than a batch") << 8 << 7;
    QTest::newRow("exactly one batch") << 8 << 8;
    QTest::newRow("one batch and one") << 8 << 9;
    QTest::newRow("many batches") << 8 << 100;
    QTest::newRow("batch of one") << 1 << 5;
    QTest::newRow("default batch, 300 datagrams") << int(DatagramReader::DefaultBatchSize) << 300;
}

void tst_DatagramReader::drainsInBatches()
{
    QFETCH(int, batchSize);
    QFETCH(int, count);

    QUdpSocket receiver;
    QVERIFY2(bindReceiver(receiver, QHostAddress::LocalHost), qPrintable(receiver.errorString()));
    QUdpSocket sender;
    QList<QByteArray> sent;
    for (int i = 0; i < count; ++i) {
        // Lengths vary, 0 included, so that a slot reused with a shorter datagram would show
        // stale bytes.
        sent << payload(i, (i * 37) % 531);
        QCOMPARE(sender.writeDatagram(sent.last(), QHostAddress::LocalHost, receiver.localPort()),
                 qint64(sent.last().size()));
    }

    DatagramReader reader(&receiver, batchSize);
    QList<QByteArray> received;
    const int handled = reader.drain([&](const QByteArray &datagram, const QHostAddress &) {
        received << QByteArray(datagram.constData(), datagram.size());
    });

    QCOMPARE(handled, count);
    QCOMPARE(received.size(), count);
    for (int i = 0; i < count; ++i)
        QVERIFY2(received.at(i) == sent.at(i), qPrintable(QStringLiteral("datagram %1 differs").arg(i)));
    QCOMPARE(reader.truncatedCount(), quint64(0));
    // Batched: a look and a read through Qt, then one call per full batch and one that comes
    // back short or empty.
    const quint64 mostCalls = quint64(count / batchSize + 3);
    QVERIFY2(reader.receiveCalls() <= mostCalls,
             qPrintable(QStringLiteral("%1 receive calls for %2 datagrams")
                            .arg(reader.receiveCalls()).arg(count)));
    QVERIFY(!receiver.hasPendingDatagrams());
}

void tst_DatagramReader::cutsDatagramLongerThanSlot_data()
{
    QTest::addColumn<QList<int>>("lengths");

    QTest::newRow("long one between short ones") << QList<int>{10, 200, 10};
    QTest::newRow("exactly the capacity") << QList<int>{64, 10};
    QTest::newRow("one byte too long") << QList<int>{65, 10};
    QTest::newRow("long one last") << QList<int>{10, 10, 1000};
    QTest::newRow("only long ones") << QList<int>{300, 300, 300, 300, 300};
}

void tst_DatagramReader::cutsDatagramLongerThanSlot()
{
    QFETCH(QList<int>, lengths);
    const int capacity = 64;

    QUdpSocket receiver;
    QVERIFY2(bindReceiver(receiver, QHostAddress::LocalHost), qPrintable(receiver.errorString()));
    QUdpSocket sender;
    for (int i = 0; i < lengths.size(); ++i)
        QCOMPARE(sender.writeDatagram(payload(i, lengths.at(i)), QHostAddress::LocalHost,
                                      receiver.localPort()),
                 qint64(lengths.at(i)));

    // A batch smaller than the list, so that the long datagrams fall on batch boundaries too.
    DatagramReader reader(&receiver, 2, capacity);
    QList<QByteArray> received;
    reader.drain([&](const QByteArray &datagram, const QHostAddress &) {
        received << QByteArray(datagram.constData(), datagram.size());
    });

    QCOMPARE(received.size(), lengths.size());
    quint64 tooLong = 0;
    for (int i = 0; i < lengths.size(); ++i) {
        const int kept = qMin(lengths.at(i), capacity);
        QVERIFY2(received.at(i) == payload(i, lengths.at(i)).left(kept),
                 qPrintable(QStringLiteral("datagram %1: %2 bytes arrived")
                                .arg(i).arg(received.at(i).size())));
        if (lengths.at(i) > capacity)
            ++tooLong;
    }
    QCOMPARE(reader.truncatedCount(), tooLong);
}

void tst_DatagramReader::readyReadKeepsComingAfterDrains()
{
    QUdpSocket receiver;
    QVERIFY2(bindReceiver(receiver, QHostAddress::LocalHost), qPrintable(receiver.errorString()));
    DatagramReader reader(&receiver, 4);
    int handled = 0;
    connect(&receiver, &QUdpSocket::readyRead, this, [&] {
        reader.drain([&](const QByteArray &, const QHostAddress &) { ++handled; });
    });
    QSignalSpy errors(&receiver, &QUdpSocket::errorOccurred);

    QUdpSocket sender;
    const int rounds = 40;
    for (int round = 0; round < rounds; ++round) {
        // 1 to 9 datagrams: some rounds end inside a batch, some on its edge, some beyond.
        const int burst = 1 + round % 9;
        const int expected = handled + burst;
        for (int i = 0; i < burst; ++i)
            sender.writeDatagram(payload(i, 20), QHostAddress::LocalHost, receiver.localPort());
        QTRY_VERIFY2_WITH_TIMEOUT(handled == expected,
                                  qPrintable(QStringLiteral("round %1: %2 handled, %3 expected")
                                                 .arg(round).arg(handled).arg(expected)),
                                  2000);
    }
    QVERIFY2(errors.isEmpty(), qPrintable(receiver.errorString()));
    QCOMPARE(receiver.state(), QAbstractSocket::BoundState);
}

void tst_DatagramReader::reportsSenders_data()
{
    QTest::addColumn<QHostAddress>("bindAddress");

    QTest::newRow("IPv4 socket") << QHostAddress(QHostAddress::AnyIPv4);
    // Bound like the engine: the dual-stack socket reports IPv4 senders as mapped addresses.
    QTest::newRow("dual-stack socket") << QHostAddress(QHostAddress::Any);
}

void tst_DatagramReader::reportsSenders()
{
    QFETCH(QHostAddress, bindAddress);

    QUdpSocket receiver;
    QVERIFY2(bindReceiver(receiver, bindAddress), qPrintable(receiver.errorString()));
    QUdpSocket senders[3];
    const QHostAddress sourceAddresses[3] = {QHostAddress(QStringLiteral("127.0.0.1")),
                                             QHostAddress(QStringLiteral("127.0.0.2")),
                                             QHostAddress(QStringLiteral("127.0.0.3"))};
    for (int i = 0; i < 3; ++i)
        QVERIFY2(senders[i].bind(sourceAddresses[i], 0), qPrintable(senders[i].errorString()));
    // Runs from one sender and changes between them, across batch boundaries.
    const QList<int> order{0, 0, 1, 0, 2, 2, 2, 1, 1, 0};

    auto sendAll = [&] {
        for (int i = 0; i < order.size(); ++i)
            senders[order.at(i)].writeDatagram(payload(i, 16), QHostAddress::LocalHost,
                                               receiver.localPort());
    };

    // What QUdpSocket itself reports for the same traffic is the reference.
    sendAll();
    QList<QHostAddress> expected;
    while (receiver.hasPendingDatagrams()) {
        QHostAddress sender;
        char byte;
        receiver.readDatagram(&byte, 1, &sender);
        expected << sender;
    }
    QCOMPARE(expected.size(), order.size());

    sendAll();
    DatagramReader reader(&receiver, 3);
    QList<Received> received;
    reader.drain([&](const QByteArray &datagram, const QHostAddress &sender) {
        received << Received{QByteArray(datagram.constData(), datagram.size()), sender};
    });

    QCOMPARE(received.size(), order.size());
    for (int i = 0; i < order.size(); ++i) {
        QVERIFY2(received.at(i).sender == expected.at(i),
                 qPrintable(QStringLiteral("datagram %1: sender %2, Qt says %3")
                                .arg(i)
                                .arg(received.at(i).sender.toString(), expected.at(i).toString())));
        QCOMPARE(received.at(i).sender.protocol(), expected.at(i).protocol());
        bool isIPv4 = false;
        QCOMPARE(received.at(i).sender.toIPv4Address(&isIPv4),
                 sourceAddresses[order.at(i)].toIPv4Address());
        QVERIFY(isIPv4);
        QCOMPARE(received.at(i).data, payload(i, 16));
    }
}

void tst_DatagramReader::oneReaderForSeveralSockets()
{
    // The engine keeps one reader per thread and points it at its own socket before each drain.
    QUdpSocket first;
    QUdpSocket second;
    QVERIFY2(bindReceiver(first, QHostAddress::LocalHost), qPrintable(first.errorString()));
    QVERIFY2(bindReceiver(second, QHostAddress::LocalHost), qPrintable(second.errorString()));
    QUdpSocket sender;
    for (int i = 0; i < 5; ++i) {
        sender.writeDatagram(payload(i, 100), QHostAddress::LocalHost, first.localPort());
        sender.writeDatagram(payload(100 + i, 30), QHostAddress::LocalHost, second.localPort());
    }

    DatagramReader reader(nullptr, 2);
    QList<QByteArray> received;
    const auto keep = [&](const QByteArray &datagram, const QHostAddress &) {
        received << QByteArray(datagram.constData(), datagram.size());
    };
    reader.setSocket(&first);
    QCOMPARE(reader.drain(keep), 5);
    reader.setSocket(&second);
    QCOMPARE(reader.drain(keep), 5);

    QCOMPARE(received.size(), 10);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(received.at(i), payload(i, 100));
        QCOMPARE(received.at(5 + i), payload(100 + i, 30));
    }
}

void tst_DatagramReader::drainFromWithinHandlerIsRefused()
{
    // A nested drain would overwrite the slots that the outer one is still handing out.
    QUdpSocket receiver;
    QVERIFY2(bindReceiver(receiver, QHostAddress::LocalHost), qPrintable(receiver.errorString()));
    QUdpSocket sender;
    for (int i = 0; i < 6; ++i)
        sender.writeDatagram(payload(i, 40), QHostAddress::LocalHost, receiver.localPort());

    DatagramReader reader(&receiver, 2);
    QList<QByteArray> received;
    int nestedResults = 0;
    reader.drain([&](const QByteArray &datagram, const QHostAddress &) {
        const QByteArray copy(datagram.constData(), datagram.size());
        nestedResults += reader.drain([&](const QByteArray &, const QHostAddress &) {});
        QVERIFY2(QByteArray(datagram.constData(), datagram.size()) == copy,
                 "the datagram changed under the handler");
        received << copy;
    });

    QCOMPARE(nestedResults, 0);
    QCOMPARE(received.size(), 6);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(received.at(i), payload(i, 40));
}

void tst_DatagramReader::emptyOrUnboundSocket()
{
    int calls = 0;
    const auto count = [&](const QByteArray &, const QHostAddress &) { ++calls; };

    QUdpSocket unbound;
    DatagramReader readsUnbound(&unbound);
    QCOMPARE(readsUnbound.drain(count), 0);

    QUdpSocket receiver;
    QVERIFY2(bindReceiver(receiver, QHostAddress::LocalHost), qPrintable(receiver.errorString()));
    QSignalSpy errors(&receiver, &QUdpSocket::errorOccurred);
    DatagramReader reader(&receiver);
    QCOMPARE(reader.drain(count), 0);
    QCOMPARE(reader.drain(DatagramReader::Handler()), 0);

    DatagramReader noSocket(nullptr);
    QCOMPARE(noSocket.drain(count), 0);

    QCOMPARE(calls, 0);
    QVERIFY2(errors.isEmpty(), qPrintable(receiver.errorString()));
    QCOMPARE(receiver.state(), QAbstractSocket::BoundState);
}

QTEST_GUILESS_MAIN(tst_DatagramReader)
#include "tst_datagramreader.moc"
