// The Art-Net engine against real sockets. Each run has a private network of its own (see
// netns-run): the engine holds port 6454 in the test namespace (art0, 2.0.0.10) and a peer
// namespace (art1, 2.0.0.20) stands in for the controllers and nodes on the show network.
#include "artnet.h"
#include "artnetpackets.h"
#include "networkchangewatcher.h"
#include "coalescingreader.h"
#include "framehistory.h"
#include "privatenetwork.h"
#include "testpackets.h"

#include <QAbstractSocket>
#include <QColor>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QProcess>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <atomic>
#include <cstring>
#include <arpa/inet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <memory>
#include <thread>

using Datagrams = QList<QByteArray>;

// Captures standard output until finish(). QtTest reports there as well, so the checks that
// may fail come after finish(), or their messages would vanish into the capture.
class OutputCapture
{
public:
    OutputCapture() : m_capture(std::make_unique<StdoutCapture>()) { }
    QByteArray finish()
    {
        if (!m_capture)
            return QByteArray();
        const QByteArray text = m_capture->take();
        m_capture.reset();
        return text;
    }

private:
    std::unique_ptr<StdoutCapture> m_capture;
};

class tst_artnet : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // First, before any test forks a helper: ThreadSanitizer checks it only in that state.
    void recordReaderOnAnotherThread();

    // Reception
    void classification_data();
    void classification();
    void everyTruncatedPrefix();
    void readUniverseCapacity_data();
    void readUniverseCapacity();
    void longerThenShorterPacket();
    void universeChange();
    void packetsAfterStopReceiving();
    void burstDrainedInOnePass();
    void interfaceAddressBounds();
    void frameHistoryOfReceiveUniverse();
    void censusWithoutRecording_data();
    void censusWithoutRecording();
    void malformedCountedPerSender_data();
    void malformedCountedPerSender();

    // Diagnostics
    void diagnostics_data();
    void diagnostics();
    void oneShotMessagesAreProcessWide();

    // Output
    void sendDmxBroadcast();
    void sendDmxRefused_data();
    void sendDmxRefused();
    void refreshUntilStop();
    void refreshBeforeFirstFrame();
    void sendDatagramCodes();
    void sendReachesEachNetworkOnce();

    // Poll
    void pollModeSwitch();
    void pollModeOffNoReply();
    void pollReply_data();
    void pollReply();
    void pollReplyFallbackEntry();
    void pollFromNewSubnetRediscovers();
    void nodePollingEveryThreeSeconds();
    void pollAnsweredWhateverTheLoad_data();
    void pollAnsweredWhateverTheLoad();
    void pollReplyUniverseCounts_data();
    void pollReplyUniverseCounts();
    void parseMacAddress_data();
    void parseMacAddress();

    // Socket
    void portHeldExclusively_data();
    void portHeldExclusively();
    void portSharedWithAnotherProgram_data();
    void portSharedWithAnotherProgram();

    // Time code, sync and sinks
    void timeCodeFromTwoSenders();
    void timeCodeSourceBounds();
    void timeCodeJumps_data();
    void timeCodeJumps();
    void sendTimeCodeTargets();
    void recordSlotPlacement_data();
    void recordSlotPlacement();
    void stagedRecordWrites();
    void syncFallbackAfterThreeSeconds();
    void colourSink_data();
    void colourSink();

private:
    std::unique_ptr<artnet> newEngine();
    void deliver(artnet &engine, const QByteArray &datagram,
                 const QHostAddress &to = QHostAddress(QHostAddress::LocalHost));
    std::unique_ptr<QUdpSocket> openPeer(const QString &address);
    QByteArray nextDatagram(QUdpSocket &socket, int timeoutMs = 2000, QHostAddress *from = nullptr);
    bool staysSilent(QUdpSocket &socket, int ms);
    QByteArray received(artnet &engine);

    QUdpSocket m_sender;
};

// ---------------------------------------------------------------------------------------------
// Packets as controllers send them, byte by byte.

using TestPackets::artSync;
using TestPackets::artTimeCode;
using TestPackets::header;

static QByteArray artDmx(quint8 subUni, quint8 net, quint16 length, const QByteArray &data)
{
    return TestPackets::artDmxClaiming(quint16(subUni | net << 8), length, data);
}

static QByteArray ramp(int count, int first = 1)
{
    QByteArray data;
    for (int i = 0; i < count; ++i)
        data += char((first + i) & 0xFF);
    return data;
}

static QByteArray syncPacket(const char *id, quint16 opCode, quint8 value)
{
    QByteArray packet = header(opCode, id);
    packet += char(value);              // 12: sync value
    packet += char(0);
    return packet;
}

static QByteArray artPoll()
{
    return TestPackets::artPoll(0x02); // TalkToMe: reply on change
}

// The ArtPollReply of the test engine's identity (see newEngine) from an interface with this IP
// and hardware address. Its bytes are checked field by field in tst_artnetpackets; here what
// matters is which interface answers, and to whom.
static QByteArray replyFrom(const char *ipHex = "0200000a", const char *macHex = "02000000000a")
{
    ArtNetPackets::PollReplyNode node;
    node.ip = qFromBigEndian<quint32>(QByteArray::fromHex(ipHex).constData());
    node.versionLo = 6;
    node.oemLo = 0xFF;
    node.shortName = "Vardolux";
    node.longName = "Vardolux V0.6 by www.vardolux.example";
    std::memcpy(node.mac, QByteArray::fromHex(macHex).constData(), sizeof node.mac);
    uchar reply[ArtNetPackets::PollReply::Size];
    const int size = ArtNetPackets::writeArtPollReply(reply, node, 0, 0, 0);
    return QByteArray(reinterpret_cast<const char *>(reply), size);
}

// ---------------------------------------------------------------------------------------------

void tst_artnet::initTestCase()
{
    VARDOLUX_REQUIRE_PRIVATE_NETWORK();
    QVERIFY2(PrivateNetwork::hasPeer(), "register this test with PEER");
    // A fixed hardware address, so that poll replies can be compared byte for byte. Set
    // without forking "ip": ThreadSanitizer stops reporting in a process that forked while it
    // had threads, and the reader-thread test is checked under it.
    const int control = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    QVERIFY(control >= 0);
    ifreq request = {};
    std::strncpy(request.ifr_name, "art0", IFNAMSIZ - 1);
    request.ifr_hwaddr.sa_family = ARPHRD_ETHER;
    const unsigned char mac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x0a};
    std::memcpy(request.ifr_hwaddr.sa_data, mac, sizeof mac);
    const int changed = ::ioctl(control, SIOCSIFHWADDR, &request);
    ::close(control);
    QVERIFY2(changed == 0, "cannot set the hardware address of art0");
    m_sender.setProxy(QNetworkProxy::NoProxy);
    QVERIFY2(m_sender.bind(QHostAddress::AnyIPv4, 0), qPrintable(m_sender.errorString()));
}

void tst_artnet::init()
{
    artnet::resetOneShotMessages();
}

void tst_artnet::cleanup()
{
    while (m_sender.hasPendingDatagrams())
        m_sender.receiveDatagram();
}

std::unique_ptr<artnet> tst_artnet::newEngine()
{
    StdoutCapture discoveryMessages;
    auto engine = std::make_unique<artnet>();
    // The identity the main window gives the engine.
    engine->m_versionHi = 0;
    engine->m_versionLo = 6;
    engine->m_shortName = QStringLiteral("Vardolux");
    engine->m_longName = QStringLiteral("Vardolux V0.6 by www.vardolux.example");
    return engine;
}

// Sends a datagram to the engine's port and lets the event loop hand it over.
void tst_artnet::deliver(artnet &engine, const QByteArray &datagram, const QHostAddress &to)
{
    QVERIFY(engine.openSocket());
    const quint64 before = engine.m_datagramsRead;
    QCOMPARE(m_sender.writeDatagram(datagram, to, 6454), qint64(datagram.size()));
    QVERIFY2(QTest::qWaitFor([&] { return engine.m_datagramsRead > before; }, 2000),
             "the engine did not read the datagram");
}

std::unique_ptr<QUdpSocket> tst_artnet::openPeer(const QString &address)
{
    QString error;
    const int fd = PrivateNetwork::peerUdpSocket(address, 6454, &error);
    if (fd < 0) {
        qWarning("peer socket: %s", qPrintable(error));
        return nullptr;
    }
    auto socket = std::make_unique<QUdpSocket>();
    socket->setProxy(QNetworkProxy::NoProxy);
    if (!socket->setSocketDescriptor(fd))
        return nullptr;
    return socket;
}

QByteArray tst_artnet::nextDatagram(QUdpSocket &socket, int timeoutMs, QHostAddress *from)
{
    if (!QTest::qWaitFor([&] { return socket.hasPendingDatagrams(); }, timeoutMs))
        return QByteArray();
    QByteArray datagram(int(socket.pendingDatagramSize()), '\0');
    socket.readDatagram(datagram.data(), datagram.size(), from);
    return datagram;
}

bool tst_artnet::staysSilent(QUdpSocket &socket, int ms)
{
    QTest::qWait(ms);
    return !socket.hasPendingDatagrams();
}

QByteArray tst_artnet::received(artnet &engine)
{
    uchar values[512];
    quint16 length = 512;
    if (!engine.readUniverse(values, &length))
        return QByteArray("readUniverse failed");
    return QByteArray(reinterpret_cast<const char *>(values), length);
}

// ---------------------------------------------------------------------------------------------
// Reception

void tst_artnet::classification_data()
{
    QTest::addColumn<quint16>("universe");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("counted");

    // Every row starts with 512 values of 0xAA held for the universe.
    const QByteArray held(512, char(0xAA));
    QByteArray twelve = header(0x5000);
    QByteArray thirteen = twelve + char(0);
    QByteArray wrongTerminator = artDmx(0, 0, 4, ramp(4));
    wrongTerminator[7] = '!';
    QByteArray madrixDmx = artDmx(0, 0, 4, ramp(4));
    madrixDmx.replace(0, 7, "MadrixN");
    QByteArray oddVersion = artDmx(0, 0, 3, ramp(3));
    oddVersion[10] = char(0x55);
    oddVersion[11] = char(0xAA);

    // counted: passed over as an ArtDmx cut short or lying about its length.
    QTest::newRow("12 bytes are too short") << quint16(1) << twelve << held << false;
    QTest::newRow("13 bytes are cut inside the ArtDmx header") << quint16(1) << thirteen << held << true;
    QTest::newRow("17 bytes lack the low Length byte") << quint16(1) << artDmx(0, 0, 0, QByteArray()).left(17) << held << true;
    QTest::newRow("18 bytes with Length 0 are a whole empty frame") << quint16(1) << artDmx(0, 0, 0, QByteArray()) << QByteArray() << false;
    QTest::newRow("non-zero eighth identifier byte") << quint16(1) << wrongTerminator << held << false;
    QTest::newRow("MadrixN identifier with the ArtDmx opcode") << quint16(1) << madrixDmx << held << false;
    QTest::newRow("universe 1 takes SubUni 0 Net 0") << quint16(1) << artDmx(0, 0, 4, ramp(4)) << ramp(4) << false;
    QTest::newRow("universe 1 ignores SubUni 1") << quint16(1) << artDmx(1, 0, 4, ramp(4)) << held << false;
    QTest::newRow("universe 1 ignores Net 1") << quint16(1) << artDmx(0, 1, 4, ramp(4)) << held << false;
    QTest::newRow("universe 257 takes SubUni 0 Net 1") << quint16(257) << artDmx(0, 1, 4, ramp(4)) << ramp(4) << false;
    QTest::newRow("universe 129 takes SubUni 0x80") << quint16(129) << artDmx(0x80, 0, 4, ramp(4)) << ramp(4) << false;
    QTest::newRow("universe 1 ignores SubUni 0x80") << quint16(1) << artDmx(0x80, 0, 4, ramp(4)) << held << false;
    // A signed SubUni 0x80 would read as port-address 0xFF80.
    QTest::newRow("universe 65409 ignores SubUni 0x80") << quint16(0xFF81) << artDmx(0x80, 0, 4, ramp(4)) << held << false;
    QTest::newRow("universe 65536 is port-address 0xFFFF") << quint16(0xFFFF) << artDmx(0xFE, 0xFF, 2, ramp(2)) << ramp(2) << false;
    QTest::newRow("length 0") << quint16(1) << artDmx(0, 0, 0, QByteArray()) << QByteArray() << false;
    QTest::newRow("length 2") << quint16(1) << artDmx(0, 0, 2, ramp(2)) << ramp(2) << false;
    QTest::newRow("odd length 3") << quint16(1) << artDmx(0, 0, 3, ramp(3)) << ramp(3) << false;
    QTest::newRow("length 512") << quint16(1) << artDmx(0, 0, 512, ramp(512)) << ramp(512) << false;
    QTest::newRow("length 600 is clamped to 512") << quint16(1) << artDmx(0, 0, 600, ramp(600)) << ramp(512) << false;
    QTest::newRow("length 2 with trailing bytes keeps 2") << quint16(1) << artDmx(0, 0, 2, ramp(40)) << ramp(2) << false;
    QTest::newRow("length 0xFFFF with 512 values is passed over") << quint16(1) << artDmx(0, 0, 0xFFFF, ramp(512)) << held << true;
    QTest::newRow("length 512 with 511 values is passed over") << quint16(1) << artDmx(0, 0, 512, ramp(511)) << held << true;
    QTest::newRow("length 24 with 10 values is passed over") << quint16(1) << artDmx(0, 0, 24, ramp(10)) << held << true;
    QTest::newRow("a short packet for another universe is counted too") << quint16(1) << artDmx(5, 0, 24, ramp(10)) << held << true;
    QTest::newRow("protocol version bytes are not examined") << quint16(1) << oddVersion << ramp(3) << false;
}

void tst_artnet::classification()
{
    QFETCH(quint16, universe);
    QFETCH(QByteArray, datagram);
    QFETCH(QByteArray, expected);
    QFETCH(bool, counted);

    auto engine = newEngine();
    QVERIFY(engine->setReceiveUniverse(universe));
    QCOMPARE(received(*engine), QByteArray());
    const quint16 portAddress = quint16(universe - 1);
    // Only the bytes matter here: they go straight to the handler (the kernel's path is
    // burstDrainedInOnePass's and tst_datagramreader's).
    const QHostAddress sender(QHostAddress::LocalHost);
    engine->handleDatagram(artDmx(portAddress & 0xFF, portAddress >> 8, 512, QByteArray(512, char(0xAA))),
                           sender);
    QCOMPARE(received(*engine), QByteArray(512, char(0xAA)));
    QCOMPARE(engine->incompleteDmxCount(), quint64(0));

    engine->handleDatagram(datagram, sender);
    QCOMPARE(received(*engine), expected);
    QCOMPARE(engine->incompleteDmxCount(), quint64(counted ? 1 : 0));
}

void tst_artnet::everyTruncatedPrefix()
{
    auto engine = newEngine();
    QVERIFY(engine->setReceiveUniverse(1));
    QVERIFY(engine->startReceiving());
    // The sinks must not see a cut packet either.
    std::vector<uchar> record(1024, 0x33);
    engine->setRecordBuffer(record.data(), uint(record.size()), 512);
    QColor colours[4];
    engine->setColorTarget(colours, 4, 512);
    const QByteArray full = artDmx(0, 0, 512, ramp(512));
    const QByteArray held(512, char(0x5A));
    for (int size = 0; size <= full.size(); ++size) {
        engine->handleDatagram(artDmx(0, 0, 512, held), QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(received(*engine), held);
        const quint64 countBefore = engine->incompleteDmxCount();
        // A copy of its own, so that a read past the end would leave the allocation.
        const QByteArray prefix(full.constData(), size);
        engine->handleDatagram(prefix, QHostAddress(QHostAddress::LocalHost));

        const QString row = QStringLiteral("prefix of %1 bytes").arg(size);
        const bool whole = size == full.size();
        // Up to 12 bytes nothing is looked at; from 13 on it is an ArtDmx, cut or whole.
        const quint64 counted = size > 12 && !whole ? 1 : 0;
        QVERIFY2(received(*engine) == (whole ? ramp(512) : held), qPrintable(row));
        QVERIFY2(engine->incompleteDmxCount() == countBefore + counted, qPrintable(row));
        const uchar expectedFirst = whole ? 1 : 0x5A;
        QVERIFY2(record[0] == expectedFirst && record[511] == (whole ? 0 : 0x5A)
                         && record[512] == 0x33,
                 qPrintable(row));
        QVERIFY2(colours[0].red() == expectedFirst, qPrintable(row));
    }
}

void tst_artnet::readUniverseCapacity_data()
{
    QTest::addColumn<int>("held");
    QTest::addColumn<int>("asked");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("copied");

    QTest::newRow("nothing arrived yet") << -1 << 512 << true << 0;
    QTest::newRow("ask for more than held") << 24 << 512 << true << 24;
    QTest::newRow("ask for less than held") << 512 << 100 << true << 100;
    QTest::newRow("ask for exactly what is held") << 300 << 300 << true << 300;
    QTest::newRow("ask for 1") << 512 << 1 << true << 1;
    QTest::newRow("ask for nothing") << 512 << 0 << false << 0;
}

void tst_artnet::readUniverseCapacity()
{
    QFETCH(int, held);
    QFETCH(int, asked);
    QFETCH(bool, result);
    QFETCH(int, copied);

    auto engine = newEngine();
    QVERIFY(engine->setReceiveUniverse(7));
    QVERIFY(engine->startReceiving());
    if (held >= 0)
        deliver(*engine, artDmx(6, 0, quint16(held), ramp(held, 3)));

    for (int reading = 0; reading < 2; ++reading) { // reading does not consume
        uchar buffer[513];
        std::memset(buffer, 0xEE, sizeof buffer);
        quint16 length = quint16(asked);
        QCOMPARE(engine->readUniverse(buffer, &length), result);
        QCOMPARE(int(length), copied);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), copied), ramp(copied, 3));
        QCOMPARE(buffer[copied], uchar(0xEE));
    }
    quint16 length = 512;
    QVERIFY(!engine->readUniverse(nullptr, &length));
}

void tst_artnet::longerThenShorterPacket()
{
    auto engine = newEngine();
    QVERIFY(engine->setReceiveUniverse(1));
    QVERIFY(engine->startReceiving());
    deliver(*engine, artDmx(0, 0, 512, ramp(512, 100)));
    deliver(*engine, artDmx(0, 0, 24, ramp(24, 7)));
    QCOMPARE(received(*engine), ramp(24, 7));
    // The older values stay in the engine's buffer but are not handed out.
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(engine->m_receiveBuffer.get()) + 24, 488),
             ramp(512, 100).mid(24));
}

void tst_artnet::universeChange()
{
    auto engine = newEngine();
    QVERIFY(engine->setReceiveUniverse(5));
    QVERIFY(engine->startReceiving());
    deliver(*engine, artDmx(4, 0, 8, ramp(8)));
    QCOMPARE(received(*engine), ramp(8));

    QVERIFY(!engine->setReceiveUniverse(0));
    QCOMPARE(engine->m_receiveUniverse, quint16(4));
    QCOMPARE(received(*engine), ramp(8));

    QVERIFY(engine->setReceiveUniverse(5)); // the same universe keeps what arrived
    QCOMPARE(received(*engine), ramp(8));

    QVERIFY(engine->setReceiveUniverse(6));
    QCOMPARE(received(*engine), QByteArray());
    deliver(*engine, artDmx(4, 0, 8, ramp(8)));
    QCOMPARE(received(*engine), QByteArray());
    deliver(*engine, artDmx(5, 0, 3, ramp(3, 50)));
    QCOMPARE(received(*engine), ramp(3, 50));
}

void tst_artnet::packetsAfterStopReceiving()
{
    auto engine = newEngine();
    QVERIFY(engine->setReceiveUniverse(1));
    std::vector<uchar> record(1024, 0);
    engine->setRecordBuffer(record.data(), uint(record.size()), 512);
    deliver(*engine, artDmx(0, 0, 16, ramp(16)));
    QCOMPARE(received(*engine), ramp(16));

    engine->stopReceiving();
    QVERIFY(!engine->m_receiving);
    QVERIFY(!engine->m_receiveBuffer);
    QVERIFY(engine->m_socketOpen); // the socket stays bound
    std::fill(record.begin(), record.end(), 0);
    deliver(*engine, artDmx(0, 0, 16, ramp(16, 40)));
    QVERIFY2(std::all_of(record.begin(), record.end(), [](uchar v) { return v == 0; }),
             "the record buffer was fed while reception was off");

    // The next read starts again with nothing held.
    QCOMPARE(received(*engine), QByteArray());
    QVERIFY(engine->m_receiving);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(engine->m_receiveBuffer.get()), 512),
             QByteArray(512, '\0'));
}

void tst_artnet::frameHistoryOfReceiveUniverse()
{
    auto engine = newEngine();
    QVERIFY(engine->setReceiveUniverse(3));
    QVERIFY(engine->startReceiving());
    QVERIFY(!engine->frameHistory());
    deliver(*engine, artDmx(2, 0, 4, ramp(4)));

    engine->setFrameHistoryKept(true);
    const FrameHistory *history = engine->frameHistory();
    QVERIFY(history);
    QCOMPARE(history->firstSerial(history->clockNs()), history->endSerial());
    auto keptFrames = [history] {
        QList<QByteArray> frames;
        for (quint64 s = history->firstSerial(history->clockNs()); s < history->endSerial(); ++s)
            frames << QByteArray(reinterpret_cast<const char *>(history->levelsAt(s)),
                                 history->lengthAt(s));
        return frames;
    };
    deliver(*engine, artDmx(2, 0, 4, ramp(4, 10)));
    deliver(*engine, artDmx(3, 0, 4, ramp(4, 20)));  // another universe
    deliver(*engine, artDmx(2, 0, 600, ramp(600, 30))); // clamped as the table shows it
    QCOMPARE(keptFrames(), (QList<QByteArray>{ramp(4, 10), ramp(512, 30)}));
    const quint64 first = history->firstSerial(history->clockNs());
    QVERIFY(history->timeAt(first) <= history->timeAt(first + 1));

    QVERIFY(engine->setReceiveUniverse(3)); // the same universe: the same history
    QCOMPARE(keptFrames().size(), 2);
    QVERIFY(engine->setReceiveUniverse(4));
    QCOMPARE(keptFrames(), QList<QByteArray>());
    deliver(*engine, artDmx(3, 0, 2, ramp(2, 40)));
    QCOMPARE(keptFrames(), QList<QByteArray>{ramp(2, 40)});

    engine->stopReceiving();
    QCOMPARE(keptFrames(), QList<QByteArray>());
    QCOMPARE(received(*engine), QByteArray()); // starts receiving again
    deliver(*engine, artDmx(3, 0, 2, ramp(2, 50)));
    QCOMPARE(keptFrames(), QList<QByteArray>{ramp(2, 50)});

    // Switched off, it keeps nothing and is gone for readers.
    engine->setFrameHistoryKept(false);
    QVERIFY(!engine->frameHistory());
    deliver(*engine, artDmx(3, 0, 2, ramp(2, 60)));
    engine->setFrameHistoryKept(true);
    QCOMPARE(engine->frameHistory(), history);
    QCOMPARE(keptFrames(), QList<QByteArray>());
}

void tst_artnet::censusWithoutRecording_data()
{
    QTest::addColumn<bool>("recording");
    QTest::addColumn<bool>("censusEnabled");

    QTest::newRow("the network view open without Record counts") << false << true;
    QTest::newRow("Record counts too") << true << false;
    QTest::newRow("both") << true << true;
    QTest::newRow("neither: nothing counted") << false << false;
}

void tst_artnet::censusWithoutRecording()
{
    QFETCH(bool, recording);
    QFETCH(bool, censusEnabled);

    auto peer = openPeer(QString());
    QVERIFY(peer);
    auto engine = newEngine();
    QVERIFY(engine->setReceiveUniverse(1));
    if (recording)
        QVERIFY(engine->startReceiving());
    QCOMPARE(engine->setCensusEnabled(censusEnabled), censusEnabled);
    QVERIFY(engine->openSocket());
    // Universe 1 from two consoles (the peer and this host's own address), universe 5 from one.
    const QHostAddress engineAddress(PrivateNetwork::LocalAddress);
    const quint64 before = engine->m_datagramsRead;
    QByteArray fromPeer = artDmx(0, 0, 8, ramp(8));
    fromPeer[12] = char(1); // Sequence
    QCOMPARE(peer->writeDatagram(fromPeer, engineAddress, 6454), qint64(fromPeer.size()));
    fromPeer[12] = char(3);
    QCOMPARE(peer->writeDatagram(fromPeer, engineAddress, 6454), qint64(fromPeer.size()));
    QCOMPARE(peer->writeDatagram(artDmx(4, 0, 2, ramp(2)), engineAddress, 6454), qint64(20));
    QCOMPARE(m_sender.writeDatagram(artDmx(0, 0, 4, ramp(4, 9)), engineAddress, 6454), qint64(22));
    QTRY_COMPARE_WITH_TIMEOUT(engine->m_datagramsRead, before + 4, 2000);

    // What the table follows is untouched by the census.
    QCOMPARE(engine->m_receiving, recording);
    if (recording)
        QCOMPARE(received(*engine), ramp(4, 9));
    else
        QVERIFY(!engine->m_receiveBuffer);
    const QList<UniverseTraffic> universes = engine->universeTraffic();
    if (!recording && !censusEnabled) {
        QVERIFY(universes.isEmpty());
        return;
    }
    QCOMPARE(universes.size(), 2);
    QCOMPARE(universes.at(0).portAddress, quint16(0));
    QCOMPARE(universes.at(0).liveSources, 2);
    QVERIFY(universes.at(0).conflict());
    QCOMPARE(universes.at(0).sequenceErrors, quint32(1));
    QCOMPARE(universes.at(1).portAddress, quint16(4));
    QVERIFY(!universes.at(1).conflict());
    const QList<DmxSource> sources = engine->dmxSources(0);
    QCOMPARE(sources.size(), 2);
    QCOMPARE(QHostAddress(sources.at(0).address), QHostAddress(PrivateNetwork::PeerAddress));
    QCOMPARE(sources.at(0).packets, quint64(2));
    QCOMPARE(sources.at(0).sequenceGaps, quint32(1));
    QCOMPARE(QHostAddress(sources.at(1).address), engineAddress);
    QVERIFY(!sources.at(0).sendsSync);

    // An ArtSync marks every source at the address it came from.
    const quint64 beforeSync = engine->m_datagramsRead;
    QCOMPARE(peer->writeDatagram(TestPackets::artSync(), engineAddress, 6454),
             qint64(TestPackets::ArtSyncSize));
    QTRY_COMPARE_WITH_TIMEOUT(engine->m_datagramsRead, beforeSync + 1, 2000);
    QVERIFY(engine->dmxSources(0).at(0).sendsSync);
    QVERIFY(!engine->dmxSources(0).at(1).sendsSync);

    // Closing the network view stops the census only where Record does not keep it going.
    engine->setCensusEnabled(false);
    QCOMPARE(engine->m_receiving, recording);
    const quint64 stopped = engine->m_datagramsRead;
    QCOMPARE(peer->writeDatagram(fromPeer, engineAddress, 6454), qint64(fromPeer.size()));
    QTRY_COMPARE_WITH_TIMEOUT(engine->m_datagramsRead, stopped + 1, 2000);
    QCOMPARE(engine->dmxSources(0).at(0).packets, quint64(recording ? 3 : 2));
}

void tst_artnet::malformedCountedPerSender_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("malformed");  // counted against its sender by the census
    QTest::addColumn<bool>("passedOver"); // counted by the receiver as well

    const QByteArray full = artDmx(4, 0, 24, ramp(24));
    QTest::newRow("9 bytes: cut inside the opcode") << full.left(9) << false << false;
    QTest::newRow("10 bytes: identifier and ArtDmx opcode") << full.left(10) << true << false;
    QTest::newRow("11 bytes") << full.left(11) << true << false;
    QTest::newRow("12 bytes: up to the protocol version") << full.left(12) << true << false;
    QTest::newRow("13 bytes: cut inside the header") << full.left(13) << true << true;
    QTest::newRow("15 bytes: cut inside the port-address") << full.left(15) << true << true;
    QTest::newRow("Length 24 with 10 values") << full.left(28) << true << true;
    QByteArray poll = full.left(12);
    poll[9] = char(0x20);
    QTest::newRow("12 bytes of another opcode") << poll << false << false;
    QByteArray madrix = full.left(12);
    madrix.replace(0, 8, QByteArray("MadrixN", 8));
    QTest::newRow("12 bytes of another identifier") << madrix << false << false;
}

void tst_artnet::malformedCountedPerSender()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, malformed);
    QFETCH(bool, passedOver);

    auto engine = newEngine();
    QVERIFY(engine->setCensusEnabled(true));
    const QHostAddress console(QStringLiteral("2.0.0.1"));
    const QHostAddress other(QStringLiteral("2.0.0.2"));
    engine->handleDatagram(datagram, console);
    engine->handleDatagram(datagram, console);
    const quint64 count = malformed ? 2 : 0;
    QCOMPARE(engine->malformedDmx(), count);
    QCOMPARE(engine->incompleteDmxCount(), passedOver ? count : 0);
    QVERIFY(engine->universeTraffic().isEmpty());
    // The sender named no universe yet: no Sources row can show them.
    QCOMPARE(engine->malformedDmxWithoutSource(), count);

    engine->handleDatagram(artDmx(4, 0, 2, ramp(2)), console);
    engine->handleDatagram(artDmx(4, 0, 2, ramp(2)), other);
    const QList<DmxSource> sources = engine->dmxSources(4);
    QCOMPARE(sources.size(), 2);
    QCOMPARE(sources.at(0).malformed, count);
    QCOMPARE(sources.at(1).malformed, quint64(0));
    QCOMPARE(engine->malformedDmxWithoutSource(), quint64(0));
}

void tst_artnet::burstDrainedInOnePass()
{
    auto engine = newEngine();
    QVERIFY(engine->setReceiveUniverse(1));
    QVERIFY(engine->startReceiving());
    // The engine asks the kernel for room for a show's burst (Linux reports twice the size).
    QVERIFY2(engine->m_socket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt()
                 >= 4 * 1024 * 1024,
             "receive buffer below 4 MiB");

    QSignalSpy readyRead(engine->m_socket, &QUdpSocket::readyRead);
    const int burst = 400;
    for (int i = 0; i < burst; ++i) {
        const QByteArray packet = artDmx(0, 0, 512, QByteArray(512, char(i & 0xFF)));
        QCOMPARE(m_sender.writeDatagram(packet, QHostAddress(QHostAddress::LocalHost), 6454),
                 qint64(packet.size()));
    }
    QTRY_COMPARE_WITH_TIMEOUT(engine->m_datagramsRead, quint64(burst), 5000);
    QCOMPARE(readyRead.count(), 1);
    QVERIFY(!engine->m_socket->hasPendingDatagrams());
    QCOMPARE(received(*engine), QByteArray(512, char((burst - 1) & 0xFF)));
}

void tst_artnet::interfaceAddressBounds()
{
    auto engine = newEngine();
    // Discovery in this namespace: 127.0.0.1 is refused, art0's 2.0.0.10/8 is the only entry.
    QCOMPARE(engine->interfaceAddress(0), QStringLiteral("2.0.0.10"));
    QCOMPARE(engine->interfaceAddress(1), QString());
    QCOMPARE(engine->interfaceAddress(-1), QString());
}

// ---------------------------------------------------------------------------------------------
// Diagnostics

void tst_artnet::diagnostics_data()
{
    QTest::addColumn<Datagrams>("datagrams");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<qint16>("syncMode");

    QTest::newRow("ArtPollReply every time")
        << Datagrams{header(0x2100) + QByteArray(228, '\0'), header(0x2100) + QByteArray(228, '\0')}
        << QByteArray("Art-Net PollReplyArt-Net PollReply") << qint16(0);
    QTest::newRow("ArtSync 0x5200 is not implemented, every time")
        << Datagrams{artSync(), artSync()}
        << QByteArray("receive not implemented OpCode at time 0x5200\n"
                      "receive not implemented OpCode at time 0x5200\n")
        << qint16(0);
    QTest::newRow("unknown opcode in upper-case hexadecimal")
        << Datagrams{header(0xF8AB) + QByteArray(2, '\0')}
        << QByteArray("receive not implemented OpCode at time 0xF8AB\n") << qint16(0);
    QTest::newRow("Art-Net time code once")
        << Datagrams{artTimeCode(1, 2, 3, 4, 1), artTimeCode(2, 2, 3, 4, 1)}
        << QByteArray("receiving Art-Net TIMECODE ...") << qint16(0);
    QTest::newRow("Art-Net sync pre once")
        << Datagrams{syncPacket("Art-Net", 0x5101, 0), syncPacket("Art-Net", 0x5101, 2)}
        << QByteArray("receiving Art-Net SYNC PRE ...") << qint16(2);
    QTest::newRow("Art-Net sync post once")
        << Datagrams{syncPacket("Art-Net", 0x5202, 1), syncPacket("Art-Net", 0x5202, 0)}
        << QByteArray("receiving Art-Net SYNC POST ...") << qint16(0);
    QTest::newRow("MadrixN sync pre once, with its own text")
        << Datagrams{syncPacket("MadrixN", 0x5101, 0x80), syncPacket("MadrixN", 0x5101, 0xFF)}
        << QByteArray("receiving MadrixN SYNC PRE ...") << qint16(-1);
    QTest::newRow("MadrixN sync post once")
        << Datagrams{syncPacket("MadrixN", 0x5202, 0x7F), syncPacket("MadrixN", 0x5202, 0x7F)}
        << QByteArray("receiving MadrixN SYNC POST ...") << qint16(0x7F);
    QTest::newRow("MadrixN pre and post each once")
        << Datagrams{syncPacket("MadrixN", 0x5101, 1), syncPacket("MadrixN", 0x5202, 1),
                     syncPacket("MadrixN", 0x5101, 1), syncPacket("MadrixN", 0x5202, 0)}
        << QByteArray("receiving MadrixN SYNC PRE ...receiving MadrixN SYNC POST ...") << qint16(0);
    QTest::newRow("MadrixN with another opcode is silent")
        << Datagrams{syncPacket("MadrixN", 0x5200, 1)} << QByteArray() << qint16(0);
    QTest::newRow("ArtPoll with poll mode off is silent") << Datagrams{artPoll()} << QByteArray()
                                                          << qint16(0);
    QTest::newRow("ArtDmx is silent") << Datagrams{artDmx(0, 0, 2, ramp(2))} << QByteArray()
                                      << qint16(0);
}

void tst_artnet::diagnostics()
{
    QFETCH(Datagrams, datagrams);
    QFETCH(QByteArray, expected);
    QFETCH(qint16, syncMode);

    auto engine = newEngine();
    QVERIFY(engine->openSocket());
    for (const QByteArray &datagram : datagrams) {
        if (datagram.startsWith("MadrixN") && (datagram.at(8) == 0x01 && datagram.at(9) == 0x51))
            QTest::ignoreMessage(QtDebugMsg, "MadrixN SYNC PRE ");
    }
    OutputCapture output;
    for (const QByteArray &datagram : datagrams)
        deliver(*engine, datagram);
    QCOMPARE(output.finish(), expected);
    QCOMPARE(engine->m_syncMode, syncMode);
}

void tst_artnet::oneShotMessagesAreProcessWide()
{
    {
        auto first = newEngine();
        OutputCapture output;
        deliver(*first, syncPacket("Art-Net", 0x5101, 0));
        QCOMPARE(output.finish(), QByteArray("receiving Art-Net SYNC PRE ..."));
    }
    auto second = newEngine();
    OutputCapture output;
    deliver(*second, syncPacket("Art-Net", 0x5101, 0));
    QCOMPARE(output.finish(), QByteArray());
}

// ---------------------------------------------------------------------------------------------
// Output

// The frame goes out as a broadcast from the show network's address; its bytes are checked in
// tst_artnetpackets.
void tst_artnet::sendDmxBroadcast()
{
    auto peer = openPeer(QStringLiteral("255.255.255.255")); // sees broadcasts only
    QVERIFY(peer);
    auto engine = newEngine();
    const QByteArray data = ramp(3, 9);
    QCOMPARE(engine->sendDmx(reinterpret_cast<const uchar *>(data.constData()), 3, 257),
             qint64(21));
    QHostAddress from;
    QCOMPARE(nextDatagram(*peer, 2000, &from), artDmx(0, 1, 3, data));
    QCOMPARE(from, QHostAddress(PrivateNetwork::LocalAddress));
    engine->stopSending();
}

void tst_artnet::sendDmxRefused_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<quint16>("universe");
    QTest::addColumn<bool>("nullData");
    QTest::addColumn<qint64>("result");

    QTest::newRow("length 1") << 1 << quint16(1) << false << qint64(-1);
    QTest::newRow("length 513") << 513 << quint16(1) << false << qint64(-1);
    QTest::newRow("length 0") << 0 << quint16(1) << false << qint64(-1);
    QTest::newRow("no data") << 16 << quint16(1) << true << qint64(-1);
    QTest::newRow("universe 0") << 16 << quint16(0) << false << qint64(0);
}

void tst_artnet::sendDmxRefused()
{
    QFETCH(int, length);
    QFETCH(quint16, universe);
    QFETCH(bool, nullData);
    QFETCH(qint64, result);

    auto peer = openPeer(QStringLiteral("255.255.255.255"));
    QVERIFY(peer);
    auto engine = newEngine();
    const QByteArray kept = ramp(4);
    QCOMPARE(engine->sendDmx(reinterpret_cast<const uchar *>(kept.constData()), 4, 2), qint64(22));
    engine->m_refreshTimer->stop(); // only what this test sends
    const QByteArray keptPacket = nextDatagram(*peer);
    QCOMPARE(keptPacket.size(), 22);

    const QByteArray data = ramp(600);
    QCOMPARE(engine->sendDmx(nullData ? nullptr : reinterpret_cast<const uchar *>(data.constData()),
                             quint16(length), universe),
             result);
    QVERIFY2(staysSilent(*peer, 200), "a refused frame was sent");
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(engine->m_lastPacket.get()), engine->m_lastPacketLength),
             keptPacket);
    QCOMPARE(engine->sendDataTimeout(), qint64(22));
    QCOMPARE(nextDatagram(*peer), keptPacket);
    engine->stopSending();
}

void tst_artnet::refreshUntilStop()
{
    auto peer = openPeer(QStringLiteral("255.255.255.255"));
    QVERIFY(peer);
    auto engine = newEngine();
    const QByteArray frame = ramp(512, 77);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(engine->sendDmx(reinterpret_cast<const uchar *>(frame.constData()), 512, 3), qint64(530));
    const QByteArray first = nextDatagram(*peer);
    QCOMPARE(first.size(), 530);

    // Refreshes of the same bytes follow at the timer's pace.
    QList<qint64> times;
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(nextDatagram(*peer, 1500), first);
        times << clock.elapsed();
    }
    for (int i = 1; i < times.size(); ++i)
        QVERIFY2(times[i] - times[i - 1] > 300 && times[i] - times[i - 1] < 900,
                 qPrintable(QStringLiteral("refresh interval %1 ms").arg(times[i] - times[i - 1])));

    engine->stopSending();
    QVERIFY(!engine->m_refreshTimer);
    QVERIFY2(staysSilent(*peer, 1200), "output went on after stopSending");

    const QByteArray next = ramp(2, 5);
    QCOMPARE(engine->sendDmx(reinterpret_cast<const uchar *>(next.constData()), 2, 3), qint64(20));
    QCOMPARE(nextDatagram(*peer).size(), 20);
    QCOMPARE(nextDatagram(*peer, 1500).size(), 20);
    engine->stopSending();
}

void tst_artnet::refreshBeforeFirstFrame()
{
    auto peer = openPeer(QStringLiteral("255.255.255.255"));
    QVERIFY(peer);
    auto engine = newEngine();
    QVERIFY(engine->startSending());
    QVERIFY(engine->m_refreshTimer && engine->m_refreshTimer->isActive());
    QCOMPARE(engine->sendDataTimeout(), qint64(-1));
    QVERIFY2(staysSilent(*peer, 1200), "the refresh sent something before the first frame");
}

void tst_artnet::sendDatagramCodes()
{
    auto peer = openPeer(QString());
    QVERIFY(peer);
    auto engine = newEngine();
    QVERIFY(engine->openSocket());
    const QHostAddress target(PrivateNetwork::PeerAddress);
    QCOMPARE(engine->sendDatagram(nullptr, 10, &target), qint64(-2));
    QCOMPARE(engine->sendDatagram("abc", 0, &target), qint64(-3));
    QVERIFY(staysSilent(*peer, 200));
    QCOMPARE(engine->sendDatagram("abc", 3, &target), qint64(3));
    QCOMPARE(nextDatagram(*peer), QByteArray("abc"));
}

// ---------------------------------------------------------------------------------------------
// Poll

// A laptop with two networks: the default route leaves by art0 (the peer's 2.0.0.0/8), and a
// second show network 10.7.0.0/16 leads to a second namespace. Each hears every frame once.
void tst_artnet::sendReachesEachNetworkOnce()
{
    QProcess holder; // keeps the second namespace alive
    holder.start(QStringLiteral("unshare"), {QStringLiteral("-n"), QStringLiteral("sleep"),
                                             QStringLiteral("60")});
    QVERIFY(holder.waitForStarted());
    auto stopHolder = qScopeGuard([&] {
        PrivateNetwork::run({"ip", "link", "del", "show0"});
        holder.kill();
        holder.waitForFinished();
    });
    const QByteArray nsPath = "/proc/" + QByteArray::number(holder.processId()) + "/ns/net";
    auto namespaceOf = [](const char *path) {
        char target[64] = {};
        return ::readlink(path, target, sizeof target - 1) > 0 ? QByteArray(target) : QByteArray();
    };
    const QByteArray ownNs = namespaceOf("/proc/self/ns/net");
    QVERIFY(QTest::qWaitFor([&] {
        const QByteArray ns = namespaceOf(nsPath.constData());
        return !ns.isEmpty() && ns != ownNs;
    }, 2000));
    const QString pid = QString::number(holder.processId());
    QVERIFY(PrivateNetwork::run({"ip", "link", "add", "show0", "type", "veth", "peer", "name",
                                 "show1", "netns", pid}));
    QVERIFY(PrivateNetwork::run({"ip", "addr", "add", "10.7.0.10/16", "brd", "+", "dev", "show0"}));
    QVERIFY(PrivateNetwork::run({"ip", "link", "set", "show0", "up"}));
    for (const QString &command : {QStringLiteral("ip link set lo up"),
                                   QStringLiteral("ip addr add 10.7.0.20/16 brd + dev show1"),
                                   QStringLiteral("ip link set show1 up")})
        QVERIFY(PrivateNetwork::run(QStringList{"nsenter", "-t", pid, "-n"}
                                    + command.split(QLatin1Char(' '))));

    auto peer = openPeer(QString());
    QVERIFY(peer);
    QString error;
    const int fd = PrivateNetwork::udpSocketInNamespace(nsPath, QString(), 6454, &error);
    QVERIFY2(fd >= 0, qPrintable(error));
    QUdpSocket secondPeer;
    QVERIFY(secondPeer.setSocketDescriptor(fd));

    auto engine = newEngine();
    QCOMPARE(engine->sendingUniverse(), quint16(0));
    QCOMPARE(engine->sendNetworks(), QStringList());
    const QByteArray frame = ramp(4);
    QCOMPARE(engine->sendDmx(reinterpret_cast<const uchar *>(frame.constData()), 4, 5),
             qint64(22));
    QCOMPARE(engine->sendNetworks(),
             (QStringList{QStringLiteral("2.0.0.0/8"), QStringLiteral("10.7.0.0/16")}));
    QCOMPARE(engine->sendingUniverse(), quint16(5));

    // The first copy and two or three refreshes, the same number on each network.
    int first = 0;
    int second = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1300) {
        QTest::qWait(20);
        for (auto [socket, count] : {std::pair{peer.get(), &first}, std::pair{&secondPeer, &second}}) {
            while (socket->hasPendingDatagrams()) {
                const QByteArray datagram = socket->receiveDatagram().data();
                QCOMPARE(datagram, artDmx(4, 0, 4, frame));
                ++*count;
            }
        }
    }
    QCOMPARE(first, second);
    QVERIFY2(first >= 3 && first <= 4, qPrintable(QString::number(first)));

    engine->stopSending();
    QCOMPARE(engine->sendNetworks(), QStringList());
    QCOMPARE(engine->sendingUniverse(), quint16(0));
}

void tst_artnet::pollModeSwitch()
{
    auto engine = newEngine();
    QVERIFY(!engine->setPollMode(false));
    QVERIFY(!engine->m_socket);
    QVERIFY(engine->setPollMode(true));
    QVERIFY(engine->m_socketOpen);
    QVERIFY(engine->setPollMode(true));
    QVERIFY(!engine->setPollMode(false));
    QVERIFY(!engine->m_pollMode);
    QVERIFY(!engine->m_receiving);
    QVERIFY(!engine->m_outputRunning);
}

void tst_artnet::pollModeOffNoReply()
{
    auto peer = openPeer(QString());
    QVERIFY(peer);
    auto engine = newEngine();
    QVERIFY(engine->openSocket());
    OutputCapture output;
    const quint64 before = engine->m_datagramsRead;
    peer->writeDatagram(artPoll(), QHostAddress(PrivateNetwork::LocalAddress), 6454);
    const bool read = QTest::qWaitFor([&] { return engine->m_datagramsRead > before; }, 2000);
    const bool silent = staysSilent(*peer, 300);
    QCOMPARE(output.finish(), QByteArray());
    QVERIFY(read);
    QVERIFY(silent);
    QVERIFY(!engine->m_outputRunning);
}

void tst_artnet::pollReply_data()
{
    QTest::addColumn<QStringList>("localAddresses"); // added to art0 (or "tun:" a tun device)
    QTest::addColumn<QString>("poller");             // in the peer namespace
    QTest::addColumn<Datagrams>("replies");
    QTest::addColumn<QByteArray>("output");

    QTest::newRow("not receiving") << QStringList() << QStringLiteral("2.0.0.20")
        << Datagrams{replyFrom()}
        << QByteArray("PollReply to 2.0.0.20 from 2.0.0.10 SubId 0");

    QTest::newRow("interface 192.168.1.10/24, poller 192.168.1.20")
        << QStringList{QStringLiteral("192.168.1.10/24")} << QStringLiteral("192.168.1.20")
        << Datagrams{replyFrom("c0a8010a")}
        << QByteArray("PollReply to 192.168.1.20 from 192.168.1.10 SubId 0");

    QTest::newRow("poller on another subnet") << QStringList{QStringLiteral("192.168.1.10/24")}
        << QStringLiteral("10.0.0.5") << Datagrams() << QByteArray();

    QTest::newRow("two matching interfaces: the first answers")
        << QStringList{QStringLiteral("192.168.1.10/24"), QStringLiteral("192.168.1.11/24")}
        << QStringLiteral("192.168.1.20") << Datagrams{replyFrom("c0a8010a")}
        << QByteArray("PollReply to 192.168.1.20 from 192.168.1.10 SubId 0");

    QTest::newRow("adapter without hardware address")
        << QStringList{QStringLiteral("tun:10.9.0.1/24")} << QStringLiteral("10.9.0.20")
        << Datagrams{replyFrom("0a090001", "001122334400")}
        << QByteArray("PollReply to 10.9.0.20 from 10.9.0.1 SubId 0");
}

void tst_artnet::pollReply()
{
    QFETCH(QStringList, localAddresses);
    QFETCH(QString, poller);
    QFETCH(Datagrams, replies);
    QFETCH(QByteArray, output);

    // Build exactly the addresses this case needs, and take them away again afterwards.
    QList<QStringList> undo;
    auto cleanupAddresses = qScopeGuard([&] {
        for (auto command = undo.crbegin(); command != undo.crend(); ++command)
            PrivateNetwork::run(*command);
    });
    for (const QString &address : std::as_const(localAddresses)) {
        if (address.startsWith(QLatin1String("tun:"))) {
            QVERIFY(PrivateNetwork::run({"ip", "tuntap", "add", "mode", "tun", "vtun0"}));
            undo << QStringList{"ip", "tuntap", "del", "mode", "tun", "vtun0"};
            QVERIFY(PrivateNetwork::run({"ip", "addr", "add", address.mid(4), "dev", "vtun0"}));
        } else {
            QVERIFY(PrivateNetwork::run({"ip", "addr", "add", address, "dev", "art0"}));
            undo << QStringList{"ip", "addr", "del", address, "dev", "art0"};
        }
    }
    QList<QStringList> peerUndo;
    auto cleanupPeer = qScopeGuard([&] {
        for (const QStringList &command : std::as_const(peerUndo))
            PrivateNetwork::runInPeer(command);
    });
    if (poller != QLatin1String(PrivateNetwork::PeerAddress)) {
        const QString withPrefix = poller + QStringLiteral("/32");
        QVERIFY(PrivateNetwork::runInPeer({"ip", "addr", "add", withPrefix, "dev", "art1"}));
        peerUndo << QStringList{"ip", "addr", "del", withPrefix, "dev", "art1"};
    }

    auto peer = openPeer(poller);
    QVERIFY(peer);
    auto engine = newEngine();
    QVERIFY(engine->setPollMode(true));

    OutputCapture stdoutText;
    peer->writeDatagram(artPoll(), QHostAddress(PrivateNetwork::LocalAddress), 6454);
    Datagrams arrived;
    for (int i = 0; i < replies.size(); ++i)
        arrived << nextDatagram(*peer);
    const bool noMore = staysSilent(*peer, 300);
    QCOMPARE(stdoutText.finish(), output);
    QCOMPARE(arrived, replies);
    QVERIFY2(noMore, "more replies than expected");
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(engine->m_storedPoll.get()), 14), artPoll());
}

void tst_artnet::pollAnsweredWhateverTheLoad_data()
{
    QTest::addColumn<int>("flood"); // ArtDmx sent one by one from another thread
    QTest::addColumn<bool>("pollDuringFlood");

    QTest::newRow("idle") << 0 << false;
    QTest::newRow("during heavy traffic, read on the timer") << 6000 << true;
    QTest::newRow("after heavy traffic, read at once again") << 3000 << false;
}

void tst_artnet::pollAnsweredWhateverTheLoad()
{
    QFETCH(int, flood);
    QFETCH(bool, pollDuringFlood);

    auto peer = openPeer(QString());
    QVERIFY(peer);
    auto engine = newEngine();
    QVERIFY(engine->setPollMode(true));
    QVERIFY(engine->setReceiveUniverse(1));
    QVERIFY(engine->startReceiving());
    OutputCapture output; // one "Art-Net PollReply" line per poll
    // The engine's first drain makes its reader; the flood then starts from a known state.
    deliver(*engine, artDmx(0, 0, 512, QByteArray(512, char(1))));
    const quint64 before = engine->m_datagramsRead;
    std::thread sender([flood] {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in target = {};
        target.sin_family = AF_INET;
        target.sin_port = htons(6454);
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const QByteArray packet = artDmx(0, 0, 512, QByteArray(512, char(2)));
        for (int i = 0; i < flood; ++i) {
            ::sendto(fd, packet.constData(), size_t(packet.size()), 0,
                     reinterpret_cast<const sockaddr *>(&target), sizeof target);
            usleep(50);
        }
        ::close(fd);
    });
    auto joinSender = qScopeGuard([&] { sender.join(); });
    const CoalescingReader &reading = *engine->m_coalescingReader;
    if (flood > 0)
        QTRY_VERIFY_WITH_TIMEOUT(reading.isCoalescing(), 5000);
    if (!pollDuringFlood) {
        sender.join();
        joinSender.dismiss();
        QTRY_VERIFY_WITH_TIMEOUT(!reading.isCoalescing(), 3000);
    }

    peer->writeDatagram(artPoll(), QHostAddress(PrivateNetwork::LocalAddress), 6454);
    // A functional bound only: bench_flood measures how soon.
    const QByteArray reply = nextDatagram(*peer, 1000);
    QVERIFY2(reply.size() == 240 && reply.startsWith(header(0x2100).left(10)), "no ArtPollReply");
    QCOMPARE(reading.isCoalescing(), pollDuringFlood);
    if (sender.joinable()) {
        sender.join();
        joinSender.dismiss();
    }
    // Nothing lost on the way: every ArtDmx and the poll were handled.
    QTRY_COMPARE_WITH_TIMEOUT(engine->m_datagramsRead, before + quint64(flood) + 1, 3000);
    QCOMPARE(received(*engine), QByteArray(512, char(flood > 0 ? 2 : 1)));
    output.finish();
}

void tst_artnet::pollReplyFallbackEntry()
{
    // Discovery on a host without a usable address leaves one entry with empty addresses
    // (covered by tst_artnet_discovery); its netmask 0 lets every poller match. Here the engine
    // was made before art0 had its address.
    auto peer = openPeer(QString());
    QVERIFY(peer);
    auto engine = newEngine();
    engine->m_interfaces->clear();
    engine->m_interfaces->append(
        InterfaceEntry{QNetworkAddressEntry(), QStringLiteral("00:11:22:33:44:55")});
    QVERIFY(engine->setPollMode(true));
    engine->m_pollRediscoveryClock.start(); // as if the interfaces had just been read

    OutputCapture stdoutText;
    peer->writeDatagram(artPoll(), QHostAddress(PrivateNetwork::LocalAddress), 6454);
    const QByteArray reply = nextDatagram(*peer);
    QCOMPARE(stdoutText.finish(), QByteArray("PollReply to 2.0.0.20 from  SubId 0"));
    QCOMPARE(reply, replyFrom("00000000", "001122334455"));
    // Answering started output, but nothing is refreshed before a first frame.
    QVERIFY(engine->m_outputRunning);
    QVERIFY(staysSilent(*peer, 700));

    // A second later a poll that only the stand-in entry matches reads the interfaces again:
    // the reply names art0's address and hardware address.
    QTest::qWait(400);
    OutputCapture secondText;
    peer->writeDatagram(artPoll(), QHostAddress(PrivateNetwork::LocalAddress), 6454);
    const QByteArray secondReply = nextDatagram(*peer);
    const QByteArray secondOutput = secondText.finish();
    QVERIFY2(secondOutput.contains("found IpV4 - 2.0.0.10  Mask: 255.0.0.0 Broad: 2.255.255.255"
                                   "add to send/receive list with02:00:00:00:00:0A"),
             secondOutput.constData());
    QVERIFY2(secondOutput.endsWith("PollReply to 2.0.0.20 from 2.0.0.10 SubId 0"),
             secondOutput.constData());
    QCOMPARE(secondReply, replyFrom());
}

// The engine started before the show network's address came: a poll from that network finds it.
// Polls from unknown subnets read the interfaces at most once a second.
void tst_artnet::pollFromNewSubnetRediscovers()
{
    auto engine = newEngine();
    delete engine->m_networkWatcher; // this case is about polls alone
    engine->m_networkWatcher = nullptr;
    QVERIFY(engine->setPollMode(true));

    QList<QStringList> undo;
    auto cleanupAddresses = qScopeGuard([&] {
        for (const QStringList &command : std::as_const(undo)) {
            if (command.first() == QLatin1String("peer"))
                PrivateNetwork::runInPeer(command.mid(1));
            else
                PrivateNetwork::run(command);
        }
    });
    auto addNetwork = [&](const QString &local, const QString &remote) {
        const bool added = PrivateNetwork::run({"ip", "addr", "add", local, "dev", "art0"})
                && PrivateNetwork::runInPeer({"ip", "addr", "add", remote, "dev", "art1"});
        undo << QStringList{"ip", "addr", "del", local, "dev", "art0"}
             << QStringList{"peer", "ip", "addr", "del", remote, "dev", "art1"};
        return added;
    };
    auto pollFrom = [&](const QString &poller, const QString &target) {
        auto peer = openPeer(poller);
        if (!peer)
            return QByteArray("no peer socket");
        peer->writeDatagram(artPoll(), QHostAddress(target), 6454);
        return nextDatagram(*peer, 1000);
    };

    QVERIFY(addNetwork(QStringLiteral("10.5.0.10/24"), QStringLiteral("10.5.0.20/24")));
    QCOMPARE(pollFrom(QStringLiteral("10.5.0.20"), QStringLiteral("10.5.0.10")), replyFrom("0a05000a"));
    QCOMPARE(engine->interfaceAddress(1), QStringLiteral("10.5.0.10"));

    // Within the second: no new scan, no reply.
    QVERIFY(addNetwork(QStringLiteral("10.6.0.10/24"), QStringLiteral("10.6.0.20/24")));
    QCOMPARE(pollFrom(QStringLiteral("10.6.0.20"), QStringLiteral("10.6.0.10")), QByteArray());
    QTest::qWait(1000);
    QCOMPARE(pollFrom(QStringLiteral("10.6.0.20"), QStringLiteral("10.6.0.10")), replyFrom("0a06000a"));
}

void tst_artnet::nodePollingEveryThreeSeconds()
{
    // Only what goes to the directed broadcast of art0 reaches this socket.
    auto broadcasts = openPeer(QStringLiteral("2.255.255.255"));
    QVERIFY(broadcasts);
    QString error;
    const int fd = PrivateNetwork::peerUdpSocket(QString(), 0, &error);
    QVERIFY2(fd >= 0, qPrintable(error));
    QUdpSocket node;
    node.setProxy(QNetworkProxy::NoProxy);
    QVERIFY(node.setSocketDescriptor(fd));
    auto engine = newEngine();
    QVERIFY(engine->setPollMode(true)); // its own reply is listed too, as itself

    OutputCapture output; // checked after finish(): QtTest reports there too
    QElapsedTimer clock;
    clock.start();
    const bool started = engine->startNodePolling();
    QHostAddress from;
    const QByteArray first = nextDatagram(*broadcasts, 1000, &from);
    const qint64 firstAtMs = clock.elapsed();
    // The peer answers as an older node does: 239 bytes.
    ArtNetPackets::PollReplyNode answer;
    answer.ip = 0x02000014;
    answer.shortName = "Peer node";
    uchar answerBytes[ArtNetPackets::PollReply::Size];
    ArtNetPackets::writeArtPollReply(answerBytes, answer, 0, 0, 1);
    const QByteArray reply(reinterpret_cast<const char *>(answerBytes), 239);
    const qint64 replied = node.writeDatagram(reply, QHostAddress(PrivateNetwork::LocalAddress), 6454);
    const QByteArray second = nextDatagram(*broadcasts, 4000);
    const qint64 secondAtMs = clock.elapsed();
    const QList<NodeInfo> nodes = engine->nodes();
    engine->stopNodePolling();
    const bool silent = staysSilent(*broadcasts, 3500);
    const QByteArray text = output.finish();

    QVERIFY(started);
    QCOMPARE(first, header(0x2000) + QByteArray(2, '\0')); // TalkToMe 0, Priority 0
    QCOMPARE(from, QHostAddress(PrivateNetwork::LocalAddress));
    QCOMPARE(replied, qint64(239));
    QCOMPARE(second, first);
    QVERIFY2(secondAtMs - firstAtMs >= 2500 && secondAtMs - firstAtMs <= 3800,
             qPrintable(QStringLiteral("the second poll came %1 ms after the first")
                                .arg(secondAtMs - firstAtMs)));
    QVERIFY2(silent, "an ArtPoll after stopNodePolling");
    QVERIFY(!engine->nodePolling());
    QVERIFY(text.contains("Poll to 2.255.255.255 from 2.0.0.10/255.0.0.0"));
    QCOMPARE(nodes.size(), 2);
    QCOMPARE(QHostAddress(nodes.at(0).sourceAddress), QHostAddress(PrivateNetwork::LocalAddress));
    QVERIFY(nodes.at(0).self);
    QCOMPARE(nodes.at(0).shortName, QStringLiteral("Vardolux"));
    QCOMPARE(QHostAddress(nodes.at(1).sourceAddress), QHostAddress(PrivateNetwork::PeerAddress));
    QVERIFY(!nodes.at(1).self);
    QVERIFY(!nodes.at(1).addressMismatch());
    QCOMPARE(nodes.at(1).shortName, QStringLiteral("Peer node"));
    QCOMPARE(nodes.at(1).bindIndex, quint8(1));
    QCOMPARE(nodes.at(1).missedPolls, 0);
}

void tst_artnet::pollReplyUniverseCounts_data()
{
    QTest::addColumn<quint16>("universe");
    QTest::addColumn<bool>("receiving");
    QTest::addColumn<uint>("recordSize");
    QTest::addColumn<quint16>("stride");
    QTest::addColumn<uint>("colours");
    QTest::addColumn<quint16>("colourChannels");
    // Per reply packet: NetSwitch, SubSwitch, NumPortsLo, SwOut[4] (SwIn the same), BindIndex.
    QTest::addColumn<QList<QByteArray>>("packets");

    auto packet = [](const char *hex) { return QByteArray::fromHex(hex); };
    QTest::newRow("0 universes, not receiving") << quint16(1) << false << 0u << quint16(512) << 0u
        << quint16(512) << QList<QByteArray>{packet("00 00 00 00000000 00")};
    QTest::newRow("0 universes while receiving count as 1") << quint16(1) << true << 0u
        << quint16(512) << 0u << quint16(512) << QList<QByteArray>{packet("00 00 01 00000000 00")};
    QTest::newRow("1 universe of record buffer") << quint16(1) << true << 512u << quint16(512)
        << 0u << quint16(512) << QList<QByteArray>{packet("00 00 01 00000000 00")};
    QTest::newRow("4 universes") << quint16(1) << true << 2048u << quint16(512) << 0u
        << quint16(512) << QList<QByteArray>{packet("00 00 04 00010203 00")};
    QTest::newRow("5 universes") << quint16(1) << true << 2049u << quint16(512) << 0u
        << quint16(512)
        << QList<QByteArray>{packet("00 00 04 00010203 00"), packet("00 00 01 04000000 01")};
    QTest::newRow("9 universes across a Sub-Net from universe 15") << quint16(15) << true
        << 9u * 170u << quint16(170) << 0u << quint16(512)
        << QList<QByteArray>{packet("00 00 04 0e0f1011 00"), packet("00 01 04 12131415 01"),
                             packet("00 01 01 16000000 02")};
    QTest::newRow("colour sink larger than record buffer") << quint16(1) << true << 512u
        << quint16(512) << 1000u << quint16(510)
        << QList<QByteArray>{packet("00 00 02 00010000 00")};
    QTest::newRow("stride 0 counts no universes") << quint16(1) << true << 1024u << quint16(0)
        << 0u << quint16(512) << QList<QByteArray>{packet("00 00 01 00000000 00")};
    QTest::newRow("colour channels 0 count no universes") << quint16(1) << true << 0u
        << quint16(512) << 300u << quint16(0) << QList<QByteArray>{packet("00 00 01 00000000 00")};
}

void tst_artnet::pollReplyUniverseCounts()
{
    QFETCH(quint16, universe);
    QFETCH(bool, receiving);
    QFETCH(uint, recordSize);
    QFETCH(quint16, stride);
    QFETCH(uint, colours);
    QFETCH(quint16, colourChannels);
    QFETCH(QList<QByteArray>, packets);

    auto peer = openPeer(QString());
    QVERIFY(peer);
    auto engine = newEngine();
    QVERIFY(engine->setReceiveUniverse(universe));
    std::vector<uchar> record(recordSize + 1);
    std::vector<QColor> colourArray(colours + 1);
    if (recordSize)
        engine->setRecordBuffer(record.data(), recordSize, stride);
    if (colours)
        engine->setColorTarget(colourArray.data(), colours, colourChannels);
    if (receiving)
        QVERIFY(engine->startReceiving());
    QVERIFY(engine->setPollMode(true));

    OutputCapture stdoutText;
    peer->writeDatagram(artPoll(), QHostAddress(PrivateNetwork::LocalAddress), 6454);
    Datagrams replies;
    for (int i = 0; i < packets.size(); ++i)
        replies << nextDatagram(*peer);
    const bool noMore = staysSilent(*peer, 300);
    const QByteArray text = stdoutText.finish();
    QByteArray expectedOutput;
    for (int i = 0; i < packets.size(); ++i) {
        const QByteArray &reply = replies[i];
        QCOMPARE(reply.size(), 240);
        const QByteArray fields = reply.mid(18, 2) + reply.mid(173, 1) + reply.mid(190, 4)
                                  + reply.mid(211, 1);
        QCOMPARE(fields.toHex(' '), packets[i].toHex(' '));
        QCOMPARE(reply.mid(186, 4).toHex(' '), reply.mid(190, 4).toHex(' ')); // SwIn, SwOut
        expectedOutput += "PollReply to 2.0.0.20 from 2.0.0.10 SubId " + QByteArray::number(i);
    }
    QVERIFY2(noMore, "more reply packets than expected");
    QCOMPARE(text, expectedOutput);
}

void tst_artnet::parseMacAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("mac");

    QTest::newRow("colon-separated") << QStringLiteral("00:11:22:33:44:55") << QByteArray::fromHex("001122334455");
    QTest::newRow("upper-case letters") << QStringLiteral("AB:CD:EF:01:9A:FF") << QByteArray::fromHex("abcdef019aff");
    QTest::newRow("placeholder with double colon") << QStringLiteral("00:11::22:33:44") << QByteArray::fromHex("001122334400");
    QTest::newRow("lower-case letters are skipped") << QStringLiteral("aa:bb:cc:dd:ee:ff") << QByteArray(6, '\0');
    QTest::newRow("mixed case keeps the upper-case digits") << QStringLiteral("aB:1c:00:00:00:00") << QByteArray::fromHex("0b0100000000");
    QTest::newRow("empty") << QString() << QByteArray(6, '\0');
    QTest::newRow("too short") << QStringLiteral("12:3") << QByteArray::fromHex("120300000000");
    QTest::newRow("too long") << QStringLiteral("01:02:03:04:05:06:07") << QByteArray::fromHex("010203040506");
    QTest::newRow("without colons") << QStringLiteral("0A0B0C0D0E0F") << QByteArray::fromHex("0a0b0c0d0e0f");
}

void tst_artnet::parseMacAddress()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, mac);
    uchar bytes[7];
    std::memset(bytes, 0xEE, sizeof bytes);
    const QString copy = text;
    artnet::parseMacAddress(text, bytes);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(bytes), 6).toHex(':'), mac.toHex(':'));
    QCOMPARE(bytes[6], uchar(0xEE));
    QCOMPARE(text, copy);
    artnet::parseMacAddress(text, nullptr); // no target: nothing happens
}

// ---------------------------------------------------------------------------------------------
// Socket

void tst_artnet::portHeldExclusively_data()
{
    QTest::addColumn<int>("holderAddress");
    QTest::newRow("held on IPv4 any") << int(QHostAddress::AnyIPv4);
    QTest::newRow("held on any, both protocols") << int(QHostAddress::Any);
}

void tst_artnet::portHeldExclusively()
{
    QFETCH(int, holderAddress);
    auto engine = newEngine();
    auto holder = std::make_unique<QUdpSocket>();
    holder->setProxy(QNetworkProxy::NoProxy);
    QVERIFY(holder->bind(QHostAddress(QHostAddress::SpecialAddress(holderAddress)), 6454));

    QVERIFY(!engine->openSocket());
    QVERIFY(!engine->m_socket);
    QVERIFY(!engine->m_socketOpen);
    QVERIFY(engine->findChildren<QUdpSocket *>().isEmpty());
    uchar values[512];
    quint16 length = 512;
    QVERIFY(!engine->readUniverse(values, &length));
    QVERIFY(!engine->setPollMode(true));
    QVERIFY(!engine->m_pollMode);
    QCOMPARE(engine->sendDmx(values, 512, 1), qint64(-1));
    QVERIFY(!engine->m_outputRunning);
    QVERIFY(!engine->openSocket()); // tries again, fails again

    holder.reset();
    QVERIFY(engine->openSocket());
    QVERIFY(engine->m_socketOpen);
    QCOMPARE(engine->findChildren<QUdpSocket *>().size(), 1);
    deliver(*engine, artDmx(0, 0, 2, ramp(2)));
    QVERIFY(engine->setReceiveUniverse(1));
    QVERIFY(engine->startReceiving());
    deliver(*engine, artDmx(0, 0, 2, ramp(2)));
    QCOMPARE(received(*engine), ramp(2));
}

void tst_artnet::portSharedWithAnotherProgram_data()
{
    QTest::addColumn<bool>("otherHolder"); // another program holds 6454 with address reuse
    QTest::newRow("port free: bound alone") << false;
    QTest::newRow("held with address reuse: shared") << true;
}

void tst_artnet::portSharedWithAnotherProgram()
{
    QFETCH(bool, otherHolder);
    QUdpSocket holder;
    holder.setProxy(QNetworkProxy::NoProxy);
    if (otherHolder)
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, 6454,
                            QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
    auto engine = newEngine();
    QVERIFY(!engine->portShared());
    QVERIFY(engine->openSocket());
    QCOMPARE(engine->portShared(), otherHolder);
}

// ---------------------------------------------------------------------------------------------
// Time code, sync and sinks

void tst_artnet::timeCodeFromTwoSenders()
{
    auto peer = openPeer(QString());
    QVERIFY(peer);
    auto engine = newEngine();
    QVERIFY(engine->openSocket());
    {
        StdoutCapture once; // the first time code is announced
        deliver(*engine, artTimeCode(1, 2, 3, 4, 1));
    }
    deliver(*engine, artTimeCode(24, 59, 58, 23, 3));
    QCOMPARE(engine->m_timeCodeSources->size(), 1);

    const quint64 before = engine->m_datagramsRead;
    QCOMPARE(peer->writeDatagram(artTimeCode(5, 6, 7, 8, 2),
                                 QHostAddress(PrivateNetwork::LocalAddress), 6454), 20);
    QTRY_VERIFY(engine->m_datagramsRead > before);
    // A short packet: the fields that did not arrive read as zero.
    deliver(*engine, artTimeCode(9, 10, 11, 12, 1).left(16));

    TimeCodeSource source;
    QHostAddress sender;
    QVERIFY(engine->timeCodeSource(&source, &sender, 0));
    QCOMPARE(sender, QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(QList<int>({source.frames, source.seconds, source.minutes, source.hours, source.type}),
             QList<int>({9, 10, 0, 0, 0}));
    QVERIFY(engine->timeCodeSource(&source, &sender, 1));
    QCOMPARE(sender, QHostAddress(PrivateNetwork::PeerAddress));
    QCOMPARE(QList<int>({source.frames, source.seconds, source.minutes, source.hours, source.type}),
             QList<int>({5, 6, 7, 8, 2}));
    QVERIFY(engine->timeCodeSource(&source, nullptr, 1));
    QCOMPARE(engine->m_timeCodeSources->size(), 2);
}

void tst_artnet::timeCodeSourceBounds()
{
    auto engine = newEngine();
    TimeCodeSource source;
    QVERIFY(!engine->timeCodeSource(&source, nullptr, 0)); // none yet
    {
        StdoutCapture once; // the first time code is announced
        deliver(*engine, artTimeCode(1, 2, 3, 4, 0));
    }
    QVERIFY(engine->timeCodeSource(&source, nullptr, 0));
    QVERIFY(!engine->timeCodeSource(&source, nullptr, 1));
    QVERIFY(!engine->timeCodeSource(&source, nullptr, -1));
    QVERIFY(!engine->timeCodeSource(nullptr, nullptr, 0));
}

using TimeCode = QList<int>; // frames, seconds, minutes, hours, type

void tst_artnet::timeCodeJumps_data()
{
    QTest::addColumn<TimeCode>("before");
    QTest::addColumn<TimeCode>("after");
    QTest::addColumn<quint32>("jumps");
    QTest::newRow("next frame") << TimeCode{5, 1, 0, 0, 0} << TimeCode{6, 1, 0, 0, 0} << 0u;
    QTest::newRow("the same frame again") << TimeCode{5, 1, 0, 0, 0} << TimeCode{5, 1, 0, 0, 0} << 0u;
    QTest::newRow("into the next second at 25 fps") << TimeCode{24, 1, 0, 0, 1}
                                                     << TimeCode{0, 2, 0, 0, 1} << 0u;
    QTest::newRow("into the next hour") << TimeCode{29, 59, 59, 0, 3}
                                        << TimeCode{0, 0, 0, 1, 3} << 0u;
    QTest::newRow("drop frame skips two numbers at a minute")
            << TimeCode{29, 59, 0, 0, 2} << TimeCode{2, 0, 1, 0, 2} << 0u;
    QTest::newRow("one frame back") << TimeCode{5, 1, 0, 0, 0} << TimeCode{4, 1, 0, 0, 0} << 1u;
    QTest::newRow("two frames ahead") << TimeCode{5, 1, 0, 0, 0} << TimeCode{7, 1, 0, 0, 0} << 1u;
    QTest::newRow("an hour back") << TimeCode{0, 0, 0, 2, 1} << TimeCode{0, 0, 0, 1, 1} << 1u;
}

// One comparison per packet against the sender's value before.
void tst_artnet::timeCodeJumps()
{
    QFETCH(TimeCode, before);
    QFETCH(TimeCode, after);
    QFETCH(quint32, jumps);
    auto engine = newEngine();
    auto packet = [](const TimeCode &t) {
        return artTimeCode(quint8(t[0]), quint8(t[1]), quint8(t[2]), quint8(t[3]), quint8(t[4]));
    };
    {
        StdoutCapture once; // the first time code is announced
        deliver(*engine, packet(before));
    }
    deliver(*engine, packet(after));
    TimeCodeSource source;
    QVERIFY(engine->timeCodeSource(&source, nullptr, 0));
    QCOMPARE(source.jumps, jumps);
    if (jumps)
        QCOMPARE(QList<int>(source.jumpedTo.begin(), source.jumpedTo.end()), after.mid(0, 4));
}

// Where the time code goes; its bytes are checked in tst_artnetpackets.
void tst_artnet::sendTimeCodeTargets()
{
    auto peer = openPeer(QString());
    QVERIFY(peer);
    auto engine = newEngine();
    const quint8 timeCode[5] = {12, 34, 56, 7, 2};
    const QByteArray expected = artTimeCode(12, 34, 56, 7, 2);

    {
        // The engine hears its own broadcasts; the announcement of the first is not wanted.
        StdoutCapture once;
        engine->handleDatagram(artTimeCode(0, 0, 0, 0, 0), QHostAddress(QStringLiteral("192.0.2.1")));
    }
    const QHostAddress target(PrivateNetwork::PeerAddress);
    QCOMPARE(engine->sendTimeCode(timeCode, &target), qint64(20));
    QCOMPARE(nextDatagram(*peer), expected);

    // Without a target: to the broadcast address of every interface (here only art0's).
    QCOMPARE(engine->sendTimeCode(timeCode), qint64(20));
    QCOMPARE(nextDatagram(*peer), expected);
    QCOMPARE(engine->sendTimeCode(nullptr), qint64(-1));
    QVERIFY(staysSilent(*peer, 200));

    // The stand-in entry of a host without a network has no broadcast address: sending to
    // 0.0.0.0 would only reach this host, so it is passed over and counts for nothing.
    engine->m_interfaces->prepend(InterfaceEntry{QNetworkAddressEntry(), QStringLiteral("00:11:22:33:44:55")});
    QCOMPARE(engine->sendTimeCode(timeCode), qint64(20));
    QCOMPARE(nextDatagram(*peer), expected);
    engine->m_interfaces->removeLast();
    QCOMPARE(engine->sendTimeCode(timeCode), qint64(-1));
    engine->m_interfaces->clear();
    QCOMPARE(engine->sendTimeCode(timeCode), qint64(-1));
}

void tst_artnet::recordSlotPlacement_data()
{
    QTest::addColumn<quint16>("universe");   // receive universe: slot 0
    QTest::addColumn<uint>("size");
    QTest::addColumn<quint16>("stride");
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<int>("offset");         // where the values land
    QTest::addColumn<int>("count");          // how many of them

    QTest::newRow("stride 512, second slot") << quint16(1) << 1536u << quint16(512)
        << artDmx(1, 0, 512, ramp(512)) << 512 << 512;
    QTest::newRow("stride 512, receive universe 257") << quint16(257) << 1024u << quint16(512)
        << artDmx(1, 1, 100, ramp(100)) << 512 << 100;
    QTest::newRow("stride 170, third slot") << quint16(1) << 600u << quint16(170)
        << artDmx(2, 0, 512, ramp(512)) << 340 << 170;
    QTest::newRow("stride 170, length 24") << quint16(1) << 600u << quint16(170)
        << artDmx(1, 0, 24, ramp(24)) << 170 << 24;
    QTest::newRow("stride 100, last slot cut by the buffer") << quint16(1) << 250u << quint16(100)
        << artDmx(2, 0, 100, ramp(100)) << 200 << 50;
    QTest::newRow("stride 100, slot ending at the buffer end") << quint16(1) << 300u << quint16(100)
        << artDmx(2, 0, 100, ramp(100)) << 200 << 100;
    QTest::newRow("stride 100, slot past the buffer") << quint16(1) << 300u << quint16(100)
        << artDmx(3, 0, 100, ramp(100)) << 0 << 0;
    QTest::newRow("stride 1") << quint16(1) << 4u << quint16(1) << artDmx(3, 0, 512, ramp(512))
        << 3 << 1;
    QTest::newRow("stride 600 uses slots of 512") << quint16(1) << 2048u << quint16(600)
        << artDmx(1, 0, 512, ramp(512)) << 512 << 512;
    QTest::newRow("packet below the receive universe") << quint16(5) << 2048u << quint16(512)
        << artDmx(3, 0, 512, ramp(512)) << 0 << 0;
    QTest::newRow("buffer smaller than one slot") << quint16(1) << 100u << quint16(512)
        << artDmx(0, 0, 512, ramp(512)) << 0 << 100;
    QTest::newRow("packet shorter than its Length is passed over") << quint16(1) << 1024u
        << quint16(512) << artDmx(0, 0, 512, ramp(10)) << 0 << 0;
    QTest::newRow("stride 0 stores nothing") << quint16(1) << 1024u << quint16(0)
        << artDmx(0, 0, 512, ramp(512)) << 0 << 0;
    QTest::newRow("highest slot does not wrap") << quint16(1) << 1024u << quint16(512)
        << artDmx(0xFF, 0xFF, 512, ramp(512)) << 0 << 0;
}

void tst_artnet::recordSlotPlacement()
{
    QFETCH(quint16, universe);
    QFETCH(uint, size);
    QFETCH(quint16, stride);
    QFETCH(QByteArray, packet);
    QFETCH(int, offset);
    QFETCH(int, count);

    auto engine = newEngine();
    QVERIFY(engine->setReceiveUniverse(universe));
    // One guard byte behind the installed size shows any write past it.
    std::vector<uchar> record(size + 1, 0xEE);
    engine->setRecordBuffer(record.data(), size, stride);
    engine->handleDatagram(packet, QHostAddress(QHostAddress::LocalHost));

    QByteArray expected(int(size), char(0xEE));
    const QByteArray values = packet.mid(18).leftJustified(512, '\0');
    expected.replace(offset, count, values.left(count));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(record.data()), int(size)).toHex(),
             expected.toHex());
    QCOMPARE(record[size], uchar(0xEE));
}

void tst_artnet::stagedRecordWrites()
{
    auto engine = newEngine();
    QVERIFY(engine->setReceiveUniverse(1));
    std::vector<uchar> record(1024, 0);
    engine->setRecordBuffer(record.data(), 1024, 512);
    engine->handleDatagram(artDmx(0, 0, 4, ramp(4)), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(record[0], uchar(1)); // immediate

    {
        StdoutCapture once; // announced once
        engine->handleDatagram(syncPacket("Art-Net", 0x5101, 1), QHostAddress(QHostAddress::LocalHost));
    }
    QCOMPARE(engine->m_syncMode, qint16(1));
    // Installing the buffer gave a zeroed staging copy; the sync copied it over the buffer.
    QCOMPARE(record[0], uchar(0));
    engine->handleDatagram(artDmx(1, 0, 4, ramp(4, 20)), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(record[512], uchar(0)); // staged
    QCOMPARE(engine->m_stagingBuffer[512], uchar(20));

    {
        StdoutCapture once; // announced once
        engine->handleDatagram(syncPacket("MadrixN", 0x5202, 0), QHostAddress(QHostAddress::LocalHost));
    }
    QCOMPARE(engine->m_syncMode, qint16(0));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(record.data()) + 512, 4), ramp(4, 20));

    engine->handleDatagram(artDmx(1, 0, 4, ramp(4, 60)), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(record[512], uchar(60)); // immediate again

    engine->setRecordBuffer(nullptr, 0, 0);
    QVERIFY(!engine->m_stagingBuffer);
    QCOMPARE(engine->m_universeStride, quint16(512));
    uchar *buffer = reinterpret_cast<uchar *>(1);
    uint size = 1;
    engine->recordBuffer(&buffer, &size);
    QVERIFY(!buffer);
    QCOMPARE(size, 0u);
    engine->handleDatagram(artDmx(1, 0, 4, ramp(4, 90)), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(record[512], uchar(60));
}

void tst_artnet::syncFallbackAfterThreeSeconds()
{
    auto engine = newEngine();
    QVERIFY(engine->setReceiveUniverse(1));
    std::vector<uchar> record(512, 0);
    engine->setRecordBuffer(record.data(), 512, 512);
    {
        StdoutCapture once; // announced once
        engine->handleDatagram(syncPacket("Art-Net", 0x5202, 0xC0), QHostAddress(QHostAddress::LocalHost));
    }
    QCOMPARE(engine->m_syncMode, qint16(-64));
    engine->handleDatagram(artDmx(0, 0, 2, ramp(2)), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(record[0], uchar(0));

    QTest::qWait(3100);
    engine->handleDatagram(artDmx(0, 0, 2, ramp(2, 30)), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(engine->m_syncMode, qint16(0));
    QCOMPARE(record[0], uchar(30));
}

void tst_artnet::colourSink_data()
{
    QTest::addColumn<uint>("count");
    QTest::addColumn<quint16>("channels");
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<int>("first");          // first colour written
    QTest::addColumn<QList<QRgb>>("colours"); // what the written colours hold

    QTest::newRow("seven values: two colours and a red") << 10u << quint16(512)
        << artDmx(0, 0, 7, ramp(7)) << 0
        << QList<QRgb>{qRgb(1, 2, 3), qRgb(4, 5, 6), qRgb(7, 9, 9)};
    QTest::newRow("eight values: the last colour gets red and green") << 10u << quint16(512)
        << artDmx(0, 0, 8, ramp(8)) << 0
        << QList<QRgb>{qRgb(1, 2, 3), qRgb(4, 5, 6), qRgb(7, 8, 9)};
    QTest::newRow("array shorter than the packet") << 2u << quint16(512)
        << artDmx(0, 0, 512, ramp(512)) << 0 << QList<QRgb>{qRgb(1, 2, 3), qRgb(4, 5, 6)};
    QTest::newRow("second universe at 170 colours each") << 200u << quint16(512)
        << artDmx(1, 0, 6, ramp(6)) << 170 << QList<QRgb>{qRgb(1, 2, 3), qRgb(4, 5, 6)};
    QTest::newRow("second universe partly in the array") << 172u << quint16(512)
        << artDmx(1, 0, 512, ramp(512)) << 170 << QList<QRgb>{qRgb(1, 2, 3), qRgb(4, 5, 6)};
    QTest::newRow("universe beyond the array") << 100u << quint16(512)
        << artDmx(1, 0, 512, ramp(512)) << 0 << QList<QRgb>();
    QTest::newRow("highest universe beyond the array") << 100u << quint16(512)
        << artDmx(0xFF, 0xFF, 512, ramp(512)) << 0 << QList<QRgb>();
    QTest::newRow("three channels per universe: one colour") << 4u << quint16(3)
        << artDmx(2, 0, 6, ramp(6)) << 2 << QList<QRgb>{qRgb(1, 2, 3)};
    QTest::newRow("1536 channels per universe: 512 colours") << 520u << quint16(1536)
        << artDmx(1, 0, 6, ramp(6)) << 512 << QList<QRgb>{qRgb(1, 2, 3), qRgb(4, 5, 6)};
    QTest::newRow("two channels per universe: no colours") << 10u << quint16(2)
        << artDmx(0, 0, 6, ramp(6)) << 0 << QList<QRgb>();
    QTest::newRow("length 0") << 10u << quint16(512) << artDmx(0, 0, 0, QByteArray()) << 0
                              << QList<QRgb>();
}

void tst_artnet::colourSink()
{
    QFETCH(uint, count);
    QFETCH(quint16, channels);
    QFETCH(QByteArray, packet);
    QFETCH(int, first);
    QFETCH(QList<QRgb>, colours);

    auto engine = newEngine();
    // One guard colour behind the installed count.
    std::vector<QColor> target(count + 1, QColor(9, 9, 9));
    engine->setColorTarget(target.data(), count, channels);
    engine->handleDatagram(packet, QHostAddress(QHostAddress::LocalHost));

    for (uint i = 0; i <= count; ++i) {
        const int written = int(i) - first;
        const QRgb expected = (written >= 0 && written < colours.size()) ? colours[written]
                                                                          : qRgb(9, 9, 9);
        QVERIFY2(target[i].rgb() == expected,
                 qPrintable(QStringLiteral("colour %1 is %2").arg(i).arg(target[i].name())));
    }
    engine->setColorTarget(nullptr, 0, 0);
    QCOMPARE(engine->m_colorChannels, quint16(512));
    engine->handleDatagram(packet, QHostAddress(QHostAddress::LocalHost));
}

void tst_artnet::recordReaderOnAnotherThread()
{
    auto engine = newEngine();
    QVERIFY(engine->setReceiveUniverse(1));
    const uint size = 4 * 512;
    std::vector<uchar> record(size, 0);
    engine->setRecordBuffer(record.data(), size, 512);

    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<int> copies{0};
    std::thread reader([&] {
        std::vector<uchar> copy(size);
        while (!done.load()) {
            if (!engine->copyRecordBuffer(copy.data(), size))
                continue;
            // Every packet fills one whole universe with one value.
            for (uint slot = 0; slot < 4; ++slot) {
                const uchar *begin = copy.data() + slot * 512;
                if (!std::all_of(begin, begin + 512, [&](uchar v) { return v == begin[0]; }))
                    ++torn;
            }
            ++copies;
        }
    });
    // Packets only start once the reader runs, so that the two really overlap.
    QVERIFY(QTest::qWaitFor([&] { return copies.load() > 0; }, 5000));
    const int copiesBefore = copies.load();
    {
        StdoutCapture once; // the first sync packet is announced
        const QHostAddress sender(QHostAddress::LocalHost);
        const int packets = 20000;
        for (int i = 0; i < packets; ++i) {
            engine->handleDatagram(artDmx(quint8(i % 4), 0, 512, QByteArray(512, char(i & 0xFF))),
                                   sender);
            if (i % 500 == 250) // staged writes land through applySync under the lock
                engine->handleDatagram(syncPacket("Art-Net", 0x5101, i % 1000 == 250 ? 1 : 0),
                                       sender);
        }
    }
    done = true;
    reader.join();
    QVERIFY2(torn.load() == 0, qPrintable(QStringLiteral("%1 torn universes").arg(torn.load())));
    QVERIFY2(copies.load() > copiesBefore, "the reader made no copy while packets arrived");
    uchar out[4];
    QVERIFY(!engine->copyRecordBuffer(nullptr, 4));
    engine->setRecordBuffer(nullptr, 0, 0);
    QVERIFY(!engine->copyRecordBuffer(out, 4));
}

QTEST_GUILESS_MAIN(tst_artnet)
#include "tst_artnet.moc"
