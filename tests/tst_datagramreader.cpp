// DatagramReader empties a UDP socket behind QUdpSocket's back. What can go wrong: datagrams
// lost, merged or reordered at batch boundaries, a long datagram spilling into the next slot,
// a wrong sender, and QUdpSocket falling silent because its own read calls were bypassed.
// CoalescingReader on top of it: datagrams lost or reordered between timed drains, a wait that
// overruns a small receive queue, and a reader that stays on its timer (or silent) once traffic
// is light again. Arrival times that are the time of the drain rather than the kernel's.
#include "coalescingreader.h"
#include "datagramreader.h"
#include "privatenetwork.h"

#include <QEventLoop>
#include <QList>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <arpa/inet.h>
#include <ctime>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Received
{
    QByteArray data;
    QHostAddress sender;
};

// CLOCK_MONOTONIC read directly, the clock the reader's arrival times are on.
qint64 monotonicNs()
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// A payload that tells its index and length apart from every other one.
QByteArray payload(int index, int length)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char(quint8(index * 7 + i));
    return bytes;
}

// Sends datagrams numbered from 0 to the port on loopback from a thread of its own, so that the
// test's event loop goes on reading: bursts of `burst` every `pauseUs`.
class LoopbackSender
{
public:
    LoopbackSender(quint16 port, int count, int burst, int pauseUs)
        : m_thread([=] {
              const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
              sockaddr_in target = {};
              target.sin_family = AF_INET;
              target.sin_port = htons(port);
              target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
              for (int i = 0; i < count; ++i) {
                  const quint32 number = quint32(i);
                  ::sendto(fd, &number, sizeof number, 0,
                           reinterpret_cast<const sockaddr *>(&target), sizeof target);
                  if ((i + 1) % burst == 0)
                      usleep(useconds_t(pauseUs));
              }
              ::close(fd);
          })
    {
    }
    ~LoopbackSender() { m_thread.join(); }

private:
    std::thread m_thread;
};

// Records the numbers LoopbackSender sent, in the order they were handled, and whether the
// reader was coalescing at any of them.
struct NumberLog
{
    std::vector<quint32> numbers;
    const CoalescingReader *reader = nullptr;
    bool sawCoalescing = false;
    int shortestWaitMs = CoalescingReader::IntervalMs; // of the timed drains that handled some
    QEventLoop *loop = nullptr;
    size_t expected = 0;

    DatagramReader::Handler handler()
    {
        return [this](const QByteArray &datagram, const QHostAddress &) {
            quint32 number = 0;
            if (datagram.size() == sizeof number)
                memcpy(&number, datagram.constData(), sizeof number);
            numbers.push_back(number);
            if (reader && reader->isCoalescing()) {
                sawCoalescing = true;
                shortestWaitMs = std::min(shortestWaitMs, reader->intervalMs());
            }
            if (loop && numbers.size() == expected)
                loop->quit();
        };
    }
    // Runs a real event loop (QTRY_ sleeps between its looks, which would bunch datagrams)
    // until `count` numbers are in or the time is up.
    bool waitFor(size_t count, int timeoutMs)
    {
        if (numbers.size() < count) {
            QEventLoop waiting;
            loop = &waiting;
            expected = count;
            QTimer::singleShot(timeoutMs, &waiting, &QEventLoop::quit);
            waiting.exec();
            loop = nullptr;
        }
        return numbers.size() == count;
    }
    // The index of the first number out of order, or -1 when they run 0, 1, 2, ...
    int firstOutOfOrder() const
    {
        for (size_t i = 0; i < numbers.size(); ++i)
            if (numbers[i] != quint32(i))
                return int(i);
        return -1;
    }
};

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
    void arrivalTimesAreTheKernels_data();
    void arrivalTimesAreTheKernels();
    void drainWithoutArmingLeavesSocketSilent();
    void coalescedReadingKeepsOrder_data();
    void coalescedReadingKeepsOrder();
    void lightTrafficReadAtOnceAfterHeavy();
    void smallReceiveBufferShortensWait();

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

void tst_DatagramReader::arrivalTimesAreTheKernels_data()
{
    QTest::addColumn<QHostAddress>("bindAddress");
    QTest::addColumn<int>("batchSize");
    QTest::addColumn<bool>("arm");

    const QHostAddress loopback(QHostAddress::LocalHost);
    QTest::newRow("first through Qt, the rest in one batch") << loopback << 64 << true;
    QTest::newRow("all from the descriptor") << loopback << 64 << false;
    QTest::newRow("a batch for each datagram") << loopback << 1 << true;
    // Qt asks for more control messages on a dual-stack socket; the timestamp must still fit.
    QTest::newRow("dual-stack socket, as the engine binds")
            << QHostAddress(QHostAddress::Any) << 3 << true;
}

// Datagrams sent 15 ms apart wait in the queue and are drained long after, at once: each must
// still carry the time it was sent, within a millisecond.
void tst_DatagramReader::arrivalTimesAreTheKernels()
{
    QFETCH(QHostAddress, bindAddress);
    QFETCH(int, batchSize);
    QFETCH(bool, arm);

    QUdpSocket receiver;
    QVERIFY2(bindReceiver(receiver, bindAddress), qPrintable(receiver.errorString()));
    DatagramReader reader(&receiver, batchSize);
    QUdpSocket sender;
    const int count = 6;
    QList<qint64> sentAfter, sentBefore;
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            QThread::usleep(15000);
        sentBefore << monotonicNs();
        QCOMPARE(sender.writeDatagram(payload(i, 30), QHostAddress::LocalHost, receiver.localPort()),
                 qint64(30));
        sentAfter << monotonicNs();
    }
    QThread::usleep(100000);

    QList<qint64> arrivals;
    const int handled = reader.drain(
            [&](const QByteArray &, const QHostAddress &, qint64 arrivalNs) { arrivals << arrivalNs; },
            arm);
    const qint64 drainedNs = monotonicNs();
    QCOMPARE(handled, count);
    constexpr qint64 Ms = 1'000'000;
    for (int i = 0; i < count; ++i) {
        QVERIFY2(arrivals.at(i) >= sentBefore.at(i) - Ms && arrivals.at(i) <= sentAfter.at(i) + Ms,
                 qPrintable(QStringLiteral("datagram %1 arrived %2 ms after it was sent; drained "
                                           "%3 ms after")
                                    .arg(i)
                                    .arg(double(arrivals.at(i) - sentBefore.at(i)) / Ms)
                                    .arg(double(drainedNs - sentBefore.at(i)) / Ms)));
    }
}

void tst_DatagramReader::drainWithoutArmingLeavesSocketSilent()
{
    QUdpSocket receiver;
    QVERIFY2(bindReceiver(receiver, QHostAddress::LocalHost), qPrintable(receiver.errorString()));
    DatagramReader reader(&receiver);
    bool arm = false;
    int handled = 0;
    connect(&receiver, &QUdpSocket::readyRead, this, [&] {
        reader.drain([&](const QByteArray &, const QHostAddress &) { ++handled; }, arm);
    });
    QSignalSpy readyRead(&receiver, &QUdpSocket::readyRead);
    QUdpSocket sender;
    sender.writeDatagram(payload(0, 20), QHostAddress::LocalHost, receiver.localPort());
    QTRY_COMPARE_WITH_TIMEOUT(handled, 1, 2000);

    // Drained behind QUdpSocket's back: no readyRead() for the next ones.
    sender.writeDatagram(payload(1, 20), QHostAddress::LocalHost, receiver.localPort());
    sender.writeDatagram(payload(2, 20), QHostAddress::LocalHost, receiver.localPort());
    QTest::qWait(200);
    QCOMPARE(readyRead.count(), 1);
    QCOMPARE(handled, 1);

    // A drain that arms it takes what waits and brings readyRead() back.
    arm = true;
    QCOMPARE(reader.drain([&](const QByteArray &, const QHostAddress &) { ++handled; }), 2);
    sender.writeDatagram(payload(3, 20), QHostAddress::LocalHost, receiver.localPort());
    QTRY_COMPARE_WITH_TIMEOUT(handled, 4, 2000);
    QCOMPARE(readyRead.count(), 2);
}

void tst_DatagramReader::coalescedReadingKeepsOrder_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("burst");
    QTest::addColumn<int>("pauseUs");
    QTest::addColumn<bool>("heavy");

    QTest::newRow("light: one every 10 ms") << 20 << 1 << 10000 << false;
    QTest::newRow("heavy: paced one by one") << 3000 << 1 << 50 << true;
    QTest::newRow("heavy: bursts larger than a batch") << 3000 << 300 << 10000 << true;
}

void tst_DatagramReader::coalescedReadingKeepsOrder()
{
    QFETCH(int, count);
    QFETCH(int, burst);
    QFETCH(int, pauseUs);
    QFETCH(bool, heavy);

    QUdpSocket receiver;
    QVERIFY2(bindReceiver(receiver, QHostAddress::LocalHost), qPrintable(receiver.errorString()));
    DatagramReader reader(&receiver);
    NumberLog log;
    log.numbers.reserve(size_t(count));
    CoalescingReader coalescing(&receiver, &reader, log.handler());
    log.reader = &coalescing;
    connect(&receiver, &QUdpSocket::readyRead, &coalescing, &CoalescingReader::readPending);
    bool all = false;
    {
        LoopbackSender sender(receiver.localPort(), count, burst, pauseUs);
        all = log.waitFor(size_t(count), 10000);
    }
    QVERIFY2(all, qPrintable(QStringLiteral("%1 of %2 handled").arg(log.numbers.size()).arg(count)));
    QCOMPARE(log.firstOutOfOrder(), -1);
    QCOMPARE(log.sawCoalescing, heavy);
    if (heavy) {
        QVERIFY2(coalescing.wakeUps() * 4 < quint64(count),
                 qPrintable(QStringLiteral("%1 wake-ups for %2 datagrams")
                                .arg(coalescing.wakeUps()).arg(count)));
    } else {
        QCOMPARE(coalescing.wakeUps(), quint64(count));
    }
}

void tst_DatagramReader::lightTrafficReadAtOnceAfterHeavy()
{
    QUdpSocket receiver;
    QVERIFY2(bindReceiver(receiver, QHostAddress::LocalHost), qPrintable(receiver.errorString()));
    DatagramReader reader(&receiver);
    NumberLog log;
    CoalescingReader coalescing(&receiver, &reader, log.handler());
    log.reader = &coalescing;
    connect(&receiver, &QUdpSocket::readyRead, &coalescing, &CoalescingReader::readPending);
    {
        LoopbackSender heavy(receiver.localPort(), 2000, 1, 50);
        QVERIFY(log.waitFor(2000, 5000));
    }
    QVERIFY(log.sawCoalescing);
    QTRY_VERIFY_WITH_TIMEOUT(!coalescing.isCoalescing(), 2000);

    QUdpSocket sender;
    for (int i = 0; i < 5; ++i) {
        const quint64 wakeUps = coalescing.wakeUps();
        const quint32 number = quint32(2000 + i);
        sender.writeDatagram(reinterpret_cast<const char *>(&number), sizeof number,
                             QHostAddress::LocalHost, receiver.localPort());
        // A functional bound: whether it is read at once shows in the single wake-up.
        QVERIFY(log.waitFor(size_t(2001 + i), 1000));
        QCOMPARE(coalescing.wakeUps(), wakeUps + 1);
        QVERIFY(!coalescing.isCoalescing());
        QTest::qWait(30);
        QCOMPARE(coalescing.wakeUps(), wakeUps + 1); // and no timer drains after it
    }
    QCOMPARE(log.firstOutOfOrder(), -1);
}

// Only some 150 datagrams fit this socket's queue, a few milliseconds of the flood: the full
// wait would overrun it every time. What the machine's own delays overrun is no fault of the
// reader, so the count is not compared; the order of what came is.
void tst_DatagramReader::smallReceiveBufferShortensWait()
{
    QUdpSocket receiver;
    QVERIFY2(bindReceiver(receiver, QHostAddress::LocalHost), qPrintable(receiver.errorString()));
    receiver.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 65536);
    DatagramReader reader(&receiver);
    NumberLog log;
    log.numbers.reserve(3000);
    CoalescingReader coalescing(&receiver, &reader, log.handler());
    log.reader = &coalescing;
    connect(&receiver, &QUdpSocket::readyRead, &coalescing, &CoalescingReader::readPending);
    {
        LoopbackSender sender(receiver.localPort(), 3000, 8, 100);
        log.waitFor(3000, 3000);
    }
    QVERIFY(!log.numbers.empty());
    QVERIFY(std::adjacent_find(log.numbers.begin(), log.numbers.end(), std::greater_equal<>())
            == log.numbers.end());
    QVERIFY2(!log.sawCoalescing || log.shortestWaitMs < CoalescingReader::IntervalMs,
             qPrintable(QStringLiteral("waited %1 ms between drains").arg(log.shortestWaitMs)));
}

QTEST_GUILESS_MAIN(tst_DatagramReader)
#include "tst_datagramreader.moc"
