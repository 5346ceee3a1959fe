// The replayer on a private network: a capture written byte by byte, replayed, and what arrives
// in the peer namespace compared with it, datagram by datagram and in time.
#include "capturereplayer.h"
#include "interoppeers.h"
#include "privatenetwork.h"
#include "testcapturefiles.h"
#include "testpackets.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <arpa/inet.h>
#include <vector>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr quint32 PeerAddress = 0x02000014;  // 2.0.0.20
constexpr int Frames = 20;
constexpr qint64 FrameUs = 25'000;
// How late a datagram goes beside the capture's timeline at the median: a loaded machine makes
// single datagrams late, a pacing fault (all at once, drift, a restarted timeline) most of them.
constexpr double AllowedMedianLatenessMs = 3;

struct Entry
{
    QString tag;
    qint64 us = 0;
    QByteArray payload;
};

// Ten Art-Net universes sent unicast to the peer, ArtSync and time code after them, sACN
// universes 101 and 102 to their groups, and what a replay passes over: a poll, a reply and a
// universe discovery packet.
QList<Entry> captureEntries()
{
    QList<Entry> entries;
    entries.append({"poll", 0, TestPackets::artPoll(0)});
    for (int frame = 0; frame < Frames; ++frame) {
        const qint64 us = 1'000 + frame * FrameUs;
        for (int universe = 1; universe <= 10; ++universe)
            entries.append({QString("dmx%1").arg(universe), us + universe * 500,
                            TestPackets::artDmx(quint16(universe - 1), QByteArray(24, char(universe + frame)))});
        entries.append({"sync", us + 6'000, TestPackets::artSync()});
        for (quint16 universe : {101, 102}) {
            TestPackets::SacnData data;
            data.universe = universe;
            data.sequence = quint8(frame);
            data.values = QByteArray(16, char(frame));
            entries.append({QString("sacn%1").arg(universe), us + 7'000 + universe, TestPackets::sacnData(data)});
        }
    }
    entries.append({"reply", Frames * FrameUs, TestPackets::artPollReply(0x02000005, "other", 0)});
    entries.append({"tc", Frames * FrameUs + 1'000, TestPackets::artTimeCode(1, 2, 3, 4, 1)});
    entries.append({"disc", Frames * FrameUs + 2'000,
                    TestPackets::sacnDiscovery(QByteArray(16, '\x5C'), "x", 0, 0, {101})});
    return entries;
}

bool isSacn(const Entry &entry)
{
    return entry.tag.startsWith("sacn") || entry.tag == "disc";
}

QByteArray captureFile(const QList<Entry> &entries)
{
    QByteArray file = TestCaptureFiles::pcapHeader(1);
    for (const Entry &entry : entries) {
        TestCaptureFiles::Ipv4Udp packet;
        packet.payload = entry.payload;
        packet.sourcePort = packet.destinationPort = isSacn(entry) ? 5568 : 6454;
        packet.destination = isSacn(entry) ? 0xEFFF0000u | 101u : PeerAddress;
        file += TestCaptureFiles::pcapRecordAt(TestCaptureFiles::ethernet(packet.bytes()),
                                               1'700'000'000'000'000 + entry.us);
    }
    return file;
}

struct Received
{
    QByteArray payload;
    qint64 ns = 0;
};

// Each arrival against its offset in the capture, aligned on the earliest: the median of how late
// the datagrams came, in ms.
double medianLatenessMs(const QList<qint64> &arrivalsNs, const QList<qint64> &offsetsNs)
{
    std::vector<qint64> lateness;
    for (int i = 0; i < arrivalsNs.size(); ++i)
        lateness.push_back(arrivalsNs.at(i) - offsetsNs.at(i));
    const qint64 earliest = *std::min_element(lateness.begin(), lateness.end());
    std::sort(lateness.begin(), lateness.end());
    return double(lateness[lateness.size() / 2] - earliest) / 1e6;
}

} // namespace

class tst_capturereplayer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void sendsTheChosenDatagramsSpacedAsCaptured_data();
    void sendsTheChosenDatagramsSpacedAsCaptured();
    void loopRestartsOnTheTimelineUntilStopped();
    void anotherMakersReceiverTakesLevelsAndSpacing();

private:
    // Everything heard in the peer namespace until nothing came for quietMs.
    QList<Received> receive(int quietMs, int limitMs);

    int m_sockets[2] = {-1, -1}; // Art-Net, sACN
    QTemporaryDir m_dir;
    QString m_path;
    QList<Entry> m_entries;
    InteropPeers m_peers{QStringLiteral(VARDOLUX_TEST_SOURCE_DIR "/interop"),
                         QStringLiteral(VARDOLUX_INTEROP_PEERS_DIR)};
};

void tst_capturereplayer::initTestCase()
{
    VARDOLUX_REQUIRE_PRIVATE_NETWORK();
    QString error;
    m_sockets[0] = PrivateNetwork::peerUdpSocket(QString(), 6454, &error);
    m_sockets[1] = PrivateNetwork::peerUdpSocket(QString(), 5568, &error);
    QVERIFY2(m_sockets[0] >= 0 && m_sockets[1] >= 0, qPrintable(error));
    // The kernel's arrival times order what the two sockets received.
    const int on = 1;
    for (const int socket : m_sockets)
        QCOMPARE(::setsockopt(socket, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on), 0);
    ip_mreqn membership = {};
    membership.imr_multiaddr.s_addr = htonl(0xEFFF0000u | 101u);
    membership.imr_address.s_addr = htonl(PeerAddress);
    QCOMPARE(::setsockopt(m_sockets[1], IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership), 0);
    m_entries = captureEntries();
    m_path = m_dir.filePath("show.pcap");
    QFile file(m_path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(captureFile(m_entries)) > 0);
}

void tst_capturereplayer::cleanupTestCase()
{
    for (int fd : m_sockets)
        if (fd >= 0)
            ::close(fd);
}

QList<Received> tst_capturereplayer::receive(int quietMs, int limitMs)
{
    QList<Received> received;
    QElapsedTimer limit;
    limit.start();
    pollfd fds[2] = {{m_sockets[0], POLLIN, 0}, {m_sockets[1], POLLIN, 0}};
    while (limit.elapsed() < limitMs && ::poll(fds, 2, quietMs) > 0) {
        for (const pollfd &fd : fds) {
            if (!(fd.revents & POLLIN))
                continue;
            char buffer[1500];
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
            iovec vector = {buffer, sizeof buffer};
            msghdr header = {};
            header.msg_iov = &vector;
            header.msg_iovlen = 1;
            header.msg_control = control;
            header.msg_controllen = sizeof control;
            const ssize_t size = ::recvmsg(fd.fd, &header, 0);
            const cmsghdr *stamp = CMSG_FIRSTHDR(&header);
            if (size <= 0 || !stamp || stamp->cmsg_type != SO_TIMESTAMPNS)
                continue;
            timespec at = {};
            std::memcpy(&at, CMSG_DATA(stamp), sizeof at);
            received.append({QByteArray(buffer, int(size)),
                             qint64(at.tv_sec) * 1'000'000'000 + at.tv_nsec});
        }
    }
    // Read a socket at a time, datagrams of both may have waited together.
    std::stable_sort(received.begin(), received.end(),
                     [](const Received &a, const Received &b) { return a.ns < b.ns; });
    return received;
}

void tst_capturereplayer::sendsTheChosenDatagramsSpacedAsCaptured_data()
{
    QTest::addColumn<QList<quint16>>("universes");
    QTest::addColumn<bool>("onArt0");
    QTest::addColumn<QStringList>("tags");
    QTest::addColumn<QString>("destination");

    QStringList dmx;
    for (int universe = 1; universe <= 10; ++universe)
        dmx << QString("dmx%1").arg(universe);
    QTest::newRow("all as captured: data, syncs and time code, no poll, reply or discovery")
            << QList<quint16>() << false << dmx + QStringList{"sync", "sacn101", "sacn102", "tc"}
            << "2.0.0.20 239.255.0.101";
    QTest::newRow("all to art0's broadcast")
            << QList<quint16>() << true << dmx + QStringList{"sync", "sacn101", "sacn102", "tc"}
            << "2.255.255.255";
    QTest::newRow("chosen Art-Net universes: their ArtDmx alone")
            << QList<quint16>{2, 3, 9} << false << QStringList{"dmx2", "dmx3", "dmx9"} << "2.0.0.20";
    QTest::newRow("an sACN universe and an Art-Net one")
            << QList<quint16>{1, 102} << true << QStringList{"dmx1", "sacn102"} << "2.255.255.255";
    QTest::newRow("universes the capture does not hold: nothing, said in words")
            << QList<quint16>{11, 300} << false << QStringList() << "";
}

void tst_capturereplayer::sendsTheChosenDatagramsSpacedAsCaptured()
{
    QFETCH(QList<quint16>, universes);
    QFETCH(bool, onArt0);
    QFETCH(QStringList, tags);
    QFETCH(QString, destination);

    CaptureReplayer::Options options;
    options.path = m_path;
    options.universes = universes;
    if (onArt0) {
        for (const InterfaceEntry &entry : CaptureReplayer::availableNetworks())
            if (entry.address.ip().toString() == PrivateNetwork::LocalAddress)
                options.networks.append(entry);
        QCOMPARE(options.networks.size(), 1);
    }
    CaptureReplayer replayer;
    QString error;
    QVERIFY2(replayer.start(options, &error), qPrintable(error));
    const QList<Received> received = receive(300, 5000);
    QTRY_VERIFY(!replayer.progress().running);

    QList<Entry> expected;
    for (const Entry &entry : std::as_const(m_entries))
        if (tags.contains(entry.tag))
            expected.append(entry);
    QCOMPARE(received.size(), expected.size());
    if (expected.isEmpty()) {
        QVERIFY2(replayer.errorString().contains("no Art-Net or sACN data"), qPrintable(replayer.errorString()));
        return;
    }
    QCOMPARE(replayer.errorString(), QString());
    QCOMPARE(replayer.destinations().join(' '), destination);
    QList<qint64> arrivals, offsets;
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(received.at(i).payload, expected.at(i).payload);
        arrivals << received.at(i).ns;
        offsets << expected.at(i).us * 1000;
    }
    QVERIFY2(medianLatenessMs(arrivals, offsets) < AllowedMedianLatenessMs,
             qPrintable(QString::number(medianLatenessMs(arrivals, offsets))));
}

void tst_capturereplayer::loopRestartsOnTheTimelineUntilStopped()
{
    CaptureReplayer::Options options;
    options.path = m_path;
    options.universes = {4};
    options.loop = true;
    CaptureReplayer replayer;
    QString error;
    QVERIFY2(replayer.start(options, &error), qPrintable(error));
    const QList<Received> received = receive(2000, 1200);
    QVERIFY(replayer.progress().pass >= 2);
    QElapsedTimer stopping;
    stopping.start();
    replayer.stop();
    QVERIFY2(stopping.elapsed() < 50, qPrintable(QString::number(stopping.elapsed())));
    QVERIFY(!replayer.progress().running);
    receive(50, 100);
    QCOMPARE(receive(200, 300).size(), 0);

    // Pass two starts one duration and one mean spacing after pass one: 19 frames and one.
    QVERIFY(received.size() > Frames);
    QList<qint64> arrivals, offsets;
    for (int i = 0; i < received.size(); ++i) {
        QCOMPARE(received.at(i).payload, received.at(i % Frames).payload);
        arrivals << received.at(i).ns;
        offsets << i * FrameUs * 1000;
    }
    QVERIFY2(medianLatenessMs(arrivals, offsets) < AllowedMedianLatenessMs,
             qPrintable(QString::number(medianLatenessMs(arrivals, offsets))));
}

// npm's dmxnet, a node of another maker, in the peer namespace: universe 4 as it was captured.
void tst_capturereplayer::anotherMakersReceiverTakesLevelsAndSpacing()
{
    const QString missing = m_peers.missing({QStringLiteral("dmxnet")});
    QVERIFY2(missing.isEmpty(), qPrintable(missing));
    // The receiver binds port 6454 alone.
    ::close(m_sockets[0]);
    m_sockets[0] = -1;
    QString output;
    QVERIFY2(m_peers.start("dmxnet-receiver.js", {"3"}, &output), qPrintable(output));
    CaptureReplayer replayer;
    CaptureReplayer::Options options;
    options.path = m_path;
    QString error;
    QVERIFY2(replayer.start(options, &error), qPrintable(error));
    QTRY_VERIFY(!replayer.progress().running);

    QProcess *peer = m_peers.processes().front().get();
    QByteArray printed; // "ready" was taken by start()
    QTRY_VERIFY2((printed += peer->readAll()).count('\n') >= Frames, printed.constData());
    QTest::qWait(100);
    printed += peer->readAll();
    const QStringList lines = QString::fromLatin1(printed).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), Frames);
    QList<qint64> arrivals, offsets;
    for (int frame = 0; frame < Frames; ++frame) {
        const QStringList fields = lines.at(frame).split(' ');
        QCOMPARE(fields.mid(2), QStringList(8, QString::number(4 + frame)));
        arrivals << qint64(fields.at(1).toDouble() * 1e6);
        offsets << frame * FrameUs * 1000;
    }
    QVERIFY2(medianLatenessMs(arrivals, offsets) < AllowedMedianLatenessMs, printed.constData());
}

QTEST_GUILESS_MAIN(tst_capturereplayer)
#include "tst_capturereplayer.moc"
