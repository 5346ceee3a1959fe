// The capture-file reader on captures that tshark made of real Art-Net and sACN traffic on the
// test network (pcap and pcapng; Ethernet, Linux cooked v1 and v2, raw IP), and on hostile files
// written byte by byte here.

#include "capturefilereader.h"
#include "pcapngfirstsection.h"
#include "privatenetwork.h"
#include "testcapturefiles.h"
#include "testpackets.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestCaptureFiles;

namespace {

struct SentDatagram
{
    quint16 sourcePort;
    quint16 destinationPort;
    QByteArray payload;
    qint64 beforeNs;
    qint64 afterNs;
};

// The real captures: tshark's interface, link type (empty: the interface's own) and format.
struct RealCapture
{
    const char *row;
    const char *file;
    const char *interface;
    const char *linkType;
    const char *format;
    const char *linkTypeName;
};
constexpr RealCapture RealCaptures[] = {
    {"Ethernet, pcap", "ethernet.pcap", "art0", "", "pcap", "Ethernet"},
    {"Ethernet, pcapng", "ethernet.pcapng", "art0", "", "pcapng", "Ethernet"},
    {"any device, pcap", "cooked.pcap", "any", "LINUX_SLL", "pcap", "Linux cooked"},
    {"any device v2, pcapng", "cooked2.pcapng", "any", "LINUX_SLL2", "pcapng", "Linux cooked v2"},
    {"raw IP, pcap", "rawip.pcap", nullptr, "", "", "Raw IP"}, // editcap's copy of the first
};

qint64 nowNs()
{
    return QDateTime::currentMSecsSinceEpoch() * 1000000;
}

} // namespace

class tst_CaptureFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void realCaptures_data();
    void realCaptures();
    void hostileFiles_data();
    void hostileFiles();
    void unreadablePaths_data();
    void unreadablePaths();
    void pcapngFirstSection_data();
    void pcapngFirstSection();

private:
    QString captureTraffic();
    bool sendTraffic(QString *error);
    QTemporaryDir m_dir;
    QString m_captureFailure;
    bool m_tsharkMissing = false;
    QList<SentDatagram> m_sent;
};

void tst_CaptureFile::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_captureFailure = captureTraffic();
}

bool tst_CaptureFile::sendTraffic(QString *error)
{
    const QString peer = QString::fromLatin1(PrivateNetwork::PeerAddress);
    const int artNet = PrivateNetwork::peerUdpSocket(peer, 6454, error);
    const int other = PrivateNetwork::peerUdpSocket(peer, 40000, error);
    if (artNet < 0 || other < 0)
        return false;
    TestPackets::SacnData sacn;
    sacn.values = QByteArray(512, '\x33');
    const QList<SentDatagram> toSend = {
        {6454, 6454, TestPackets::artDmx(0, QByteArray(512, '\x7F'), 1), 0, 0},
        {40000, 5568, TestPackets::sacnData(sacn), 0, 0},
        {40000, 7000, QByteArray("not lighting"), 0, 0},
        {6454, 6454, TestPackets::artPoll(0x02), 0, 0},
    };
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    inet_pton(AF_INET, PrivateNetwork::LocalAddress, &to.sin_addr);
    for (SentDatagram datagram : toSend) {
        to.sin_port = htons(datagram.destinationPort);
        datagram.beforeNs = nowNs();
        ::sendto(datagram.sourcePort == 6454 ? artNet : other, datagram.payload.constData(),
                 size_t(datagram.payload.size()), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        datagram.afterNs = nowNs();
        if (datagram.destinationPort != 7000)
            m_sent.append(datagram);
        QTest::qWait(20);
    }
    ::close(artNet);
    ::close(other);
    return true;
}

// Captures the peer's datagrams with tshark in every form of RealCaptures at once, and a raw
// IP copy of the Ethernet one; the reason when it cannot.
QString tst_CaptureFile::captureTraffic()
{
    const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    const QString editcap = QStandardPaths::findExecutable(QStringLiteral("editcap"));
    if (tshark.isEmpty() || editcap.isEmpty()) {
        m_tsharkMissing = true;
        return QStringLiteral("tshark is not installed (Debian package tshark)");
    }
    QString why;
    if (!PrivateNetwork::isInside(&why) || !PrivateNetwork::hasPeer())
        return QStringLiteral("needs the peer namespace of netns-run --peer: ") + why;
    std::vector<std::unique_ptr<QProcess>> captures;
    for (const RealCapture &capture : RealCaptures) {
        if (!capture.interface)
            continue;
        QStringList arguments = {"-i", capture.interface, "-f", "udp and src host 2.0.0.20",
                                 "-c", "4", "-a", "duration:20", "-F", capture.format,
                                 "-w", m_dir.filePath(capture.file)};
        if (*capture.linkType)
            arguments << "-y" << capture.linkType;
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(tshark, arguments);
        process->waitForStarted(5000);
        QByteArray said;
        QElapsedTimer clock;
        clock.start();
        while (!said.contains("Capture started") && process->state() == QProcess::Running
               && clock.elapsed() < 20000) {
            process->waitForReadyRead(200);
            said += process->readAll();
        }
        if (!said.contains("Capture started"))
            return QStringLiteral("tshark did not start capturing: ") + QString::fromLocal8Bit(said);
        captures.push_back(std::move(process));
    }
    if (!sendTraffic(&why))
        return why;
    for (const auto &process : captures) {
        if (!process->waitForFinished(20000) || process->exitCode() != 0)
            return QStringLiteral("tshark did not end well: ") + process->readAll();
    }
    // Chopping off the Ethernet header leaves the IPv4 packets: a raw IP capture.
    if (QProcess::execute(editcap, {"-C", "14", "-T", "rawip", m_dir.filePath("ethernet.pcap"),
                                    m_dir.filePath("rawip.pcap")}) != 0)
        return QStringLiteral("editcap could not make the raw IP capture");
    // Two captures written one after the other make a pcapng file of two sections.
    QFile first(m_dir.filePath("ethernet.pcapng")), second(m_dir.filePath("cooked2.pcapng"));
    QFile both(m_dir.filePath("two-sections.pcapng"));
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly)
        || !both.open(QIODevice::WriteOnly)
        || both.write(first.readAll() + second.readAll()) <= 0)
        return QStringLiteral("the capture of two sections could not be written");
    return QString();
}

void tst_CaptureFile::realCaptures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("linkType");
    for (const RealCapture &capture : RealCaptures)
        QTest::newRow(capture.row) << capture.file << capture.linkTypeName;
    // Only the first section is read: libpcap cannot go back to it once past the second's header.
    QTest::newRow("two sections, the second of another link type")
            << "two-sections.pcapng" << "Ethernet";
}

void tst_CaptureFile::realCaptures()
{
    QFETCH(QString, file);
    QFETCH(QString, linkType);
    if (m_tsharkMissing)
        QSKIP(qPrintable(m_captureFailure));
    QVERIFY2(m_captureFailure.isEmpty(), qPrintable(m_captureFailure));
    CaptureFileReader reader;
    QVERIFY2(reader.open(m_dir.filePath(file)), qPrintable(reader.errorString()));
    QCOMPARE(reader.linkTypeName(), linkType);
    CapturedDatagram datagram;
    QList<qint64> positions;
    for (const SentDatagram &sent : std::as_const(m_sent)) {
        positions.append(reader.position());
        QVERIFY2(reader.readNext(&datagram), qPrintable(reader.errorString()));
        QCOMPARE(datagram.sourceAddress, 0x02000014u);
        QCOMPARE(datagram.destinationAddress, 0x0200000Au);
        QCOMPARE(datagram.sourcePort, sent.sourcePort);
        QCOMPARE(datagram.destinationPort, sent.destinationPort);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(datagram.payload),
                            datagram.payloadLength), sent.payload);
        // The capture's clock is the same as ours; its times are within the send's ms.
        QVERIFY2(datagram.timeNs >= sent.beforeNs && datagram.timeNs < sent.afterNs + 1000000,
                 qPrintable(QString::number(datagram.timeNs - sent.beforeNs)));
    }
    QVERIFY(!reader.readNext(&datagram));
    QVERIFY2(reader.errorString().isEmpty(), qPrintable(reader.errorString()));
    const CaptureFileReader::Counts counts = reader.counts();
    QCOMPARE(counts.records, 4u);
    QCOMPARE(counts.datagrams, 3u);
    QCOMPARE(counts.otherPorts, 1u);
    // Back to a record in the middle: the datagrams from there on read again.
    QVERIFY(reader.seek(positions.at(1)));
    QVERIFY(reader.readNext(&datagram));
    QCOMPARE(datagram.payloadLength, m_sent.at(1).payload.size());
}

void tst_CaptureFile::hostileFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    // Counts: datagrams, not IPv4, not UDP, other ports, fragments, malformed.
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<int>("payloadBytes");
    QTest::addColumn<QString>("error"); // a part of it; empty: none
    const Ipv4Udp good;
    const QByteArray goodFile = ethernetFile({good.bytes()});
    const QList<int> one = {1, 0, 0, 0, 0, 0};
    Ipv4Udp sacnSourceOnly = good, otherPorts = good, tcp = good, moreFragments = good,
            laterFragment = good, longHeader = good, shortHeader = good, ipLies = good,
            udpLies = good, udpTooShort = good;
    sacnSourceOnly.sourcePort = 5568;
    sacnSourceOnly.destinationPort = 50000;
    otherPorts.sourcePort = 50000;
    otherPorts.destinationPort = 6455;
    tcp.protocol = 6;
    moreFragments.fragment = 0x2000;
    laterFragment.fragment = 0x0010;
    longHeader.versionAndWords = 0x4F;
    shortHeader.versionAndWords = 0x44;
    ipLies.totalLengthExcess = 1;
    udpLies.udpLengthExcess = 1;
    udpTooShort.udpLengthExcess = -8;
    const QByteArray cutPacket = good.bytes();

    QTest::newRow("one datagram") << goodFile << one << 7 << "";
    QTest::newRow("sACN source port only") << ethernetFile({sacnSourceOnly.bytes()}) << one << 7 << "";
    QTest::newRow("VLAN tag") << pcapHeader(1) + pcapRecord(ethernet(good.bytes(), 0x0800, true))
                              << one << 7 << "";
    QTest::newRow("BSD loopback") << pcapHeader(0) + pcapRecord(QByteArray("\x02\0\0\0", 4) + good.bytes())
                                  << one << 7 << "";
    QTest::newRow("Ethernet padding") << ethernetFile({good.bytes() + QByteArray(20, '\0')})
                                      << one << 7 << "";
    QTest::newRow("snapshot cut the payload")
        << pcapHeader(101) + pcapRecord(cutPacket.left(30), 30, cutPacket.size()) << one << 2 << "";
    QTest::newRow("snapshot cut the UDP header")
        << pcapHeader(101) + pcapRecord(cutPacket.left(24), 24, cutPacket.size())
        << QList<int>{0, 0, 0, 0, 0, 1} << 0 << "";
    QTest::newRow("ARP") << pcapHeader(1) + pcapRecord(ethernet(QByteArray(28, '\1'), 0x0806))
                         << QList<int>{0, 1, 0, 0, 0, 0} << 0 << "";
    QTest::newRow("IPv6 in raw IP") << pcapHeader(101) + pcapRecord(QByteArray(48, '\x60'))
                                    << QList<int>{0, 1, 0, 0, 0, 0} << 0 << "";
    QTest::newRow("TCP") << ethernetFile({tcp.bytes()}) << QList<int>{0, 0, 1, 0, 0, 0} << 0 << "";
    QTest::newRow("other ports") << ethernetFile({otherPorts.bytes()})
                                 << QList<int>{0, 0, 0, 1, 0, 0} << 0 << "";
    QTest::newRow("more fragments") << ethernetFile({moreFragments.bytes()})
                                    << QList<int>{0, 0, 0, 0, 1, 0} << 0 << "";
    QTest::newRow("later fragment") << ethernetFile({laterFragment.bytes()})
                                    << QList<int>{0, 0, 0, 0, 1, 0} << 0 << "";
    const QList<int> malformed = {0, 0, 0, 0, 0, 1};
    QTest::newRow("IPv4 header longer than the record")
        << ethernetFile({longHeader.bytes().left(40)}) << malformed << 0 << "";
    QTest::newRow("IPv4 header below 20 bytes") << ethernetFile({shortHeader.bytes()}) << malformed << 0 << "";
    QTest::newRow("IPv4 length beyond the packet") << ethernetFile({ipLies.bytes()}) << malformed << 0 << "";
    QTest::newRow("UDP length beyond the packet") << ethernetFile({udpLies.bytes()}) << malformed << 0 << "";
    QTest::newRow("UDP length below its header") << ethernetFile({udpTooShort.bytes()}) << malformed << 0 << "";
    QTest::newRow("Ethernet header cut") << pcapHeader(1) + pcapRecord(QByteArray(13, '\2'))
                                         << malformed << 0 << "";
    QTest::newRow("absurd snapshot length") << pcapHeader(1, 0xFFFFFFFF) + pcapRecord(ethernet(good.bytes()))
                                            << one << 7 << "";
    QTest::newRow("record beyond the snapshot length")
        << pcapHeader(1, 45) + pcapRecord(ethernet(good.bytes())) << one << 3 << "";
    QTest::newRow("last record cut off") << goodFile + goodFile.mid(24).chopped(3) << one << 7 << "cut short";
    QTest::newRow("last record header cut off") << goodFile + goodFile.mid(24, 9) << one << 7 << "cut short";
    QTest::newRow("record longer than the file")
        << goodFile + pcapRecord(ethernet(good.bytes()), 60000, 60000) << one << 7 << "cut short";
    QTest::newRow("absurd record length")
        << goodFile + pcapRecord(ethernet(good.bytes()), 0xFFFFFFF0, 0xFFFFFFF0) << one << 7 << "damaged";
    QTest::newRow("pcapng, a second section of other byte order and link type")
            << pcapngSection(1, {ethernet(good.bytes())})
                    + pcapngSection(101, {good.bytes(), good.bytes()}, true)
            << one << 7 << "";
    QTest::newRow("wrong magic") << QByteArray("not a capture file at all, not at all")
                                 << QList<int>{} << 0 << "is not a capture file";
    QTest::newRow("file header cut") << goodFile.left(20) << QList<int>{} << 0 << "is not a capture file";
    QTest::newRow("empty file") << QByteArray() << QList<int>{} << 0 << "is empty";
    QTest::newRow("unknown link type") << pcapHeader(105) + pcapRecord(good.bytes())
                                       << QList<int>{} << 0 << "802.11";
}

void tst_CaptureFile::hostileFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(QList<int>, counts);
    QFETCH(int, payloadBytes);
    QFETCH(QString, error);
    const QString path = m_dir.filePath(QStringLiteral("hostile.pcap"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(file);
    out.close();

    CaptureFileReader reader;
    if (counts.isEmpty()) {
        QVERIFY(!reader.open(path));
        QVERIFY2(reader.errorString().contains(error), qPrintable(reader.errorString()));
        QVERIFY(!reader.isOpen());
        return;
    }
    QVERIFY2(reader.open(path), qPrintable(reader.errorString()));
    // One record of other traffic per call: each one passed over returns early.
    reader.setPassOverLimit(1);
    CapturedDatagram datagram;
    int payloadRead = 0;
    int returnedEarly = 0;
    for (;;) {
        if (reader.readNext(&datagram))
            payloadRead += datagram.payloadLength;
        else if (reader.passedOverLimit())
            ++returnedEarly;
        else
            break;
    }
    QVERIFY(!reader.readNext(&datagram));
    QVERIFY(!reader.passedOverLimit());
    const CaptureFileReader::Counts read = reader.counts();
    QCOMPARE(quint64(returnedEarly), read.records - read.datagrams);
    QCOMPARE((QList<int>{int(read.datagrams), int(read.notIpv4), int(read.notUdp),
                         int(read.otherPorts), int(read.fragments), int(read.malformed)}), counts);
    QCOMPARE(payloadRead, payloadBytes);
    if (error.isEmpty())
        QVERIFY2(reader.errorString().isEmpty(), qPrintable(reader.errorString()));
    else
        QVERIFY2(reader.errorString().contains(error), qPrintable(reader.errorString()));
}

void tst_CaptureFile::unreadablePaths_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("error");
    QTest::newRow("missing") << "missing.pcap" << "does not exist";
    QTest::newRow("folder") << "folder" << "is a folder";
    QTest::newRow("no permission") << "locked.pcap" << "not allowed to read";
    QTest::newRow("named pipe") << "pipe" << "not a file";
}

void tst_CaptureFile::unreadablePaths()
{
    QFETCH(QString, name);
    QFETCH(QString, error);
    const QString path = m_dir.filePath(name);
    QDir().mkpath(m_dir.filePath(QStringLiteral("folder")));
    ::mkfifo(qPrintable(m_dir.filePath(QStringLiteral("pipe"))), 0600);
    QFile locked(m_dir.filePath(QStringLiteral("locked.pcap")));
    QVERIFY(locked.open(QIODevice::WriteOnly));
    locked.write(ethernetFile({Ipv4Udp().bytes()}));
    locked.close();
    QVERIFY(locked.setPermissions(QFileDevice::WriteOwner));
    if (name == QLatin1String("locked.pcap") && ::access(qPrintable(path), R_OK) == 0)
        QSKIP("this user reads files whatever their permissions say");
    CaptureFileReader reader;
    QVERIFY(!reader.open(path));
    QVERIFY2(reader.errorString().contains(error), qPrintable(reader.errorString()));
    QVERIFY2(reader.errorString().contains(name), qPrintable(reader.errorString()));
}

void tst_CaptureFile::pcapngFirstSection_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("shownBytes");
    QTest::addColumn<int>("readSize"); // bytes asked of the stream at a time, unbuffered
    QTest::addColumn<int>("startAt");  // a seek before the first read
    const QByteArray packet = ethernet(Ipv4Udp().bytes());
    const QByteArray first = pcapngSection(1, {packet, packet});
    const QByteArray second = pcapngSection(101, {Ipv4Udp().bytes()}, true);
    const int firstSize = int(first.size());
    const int interfaceAt = 28; // past the section header with no options
    QTest::newRow("one section") << first << firstSize << 4096 << 0;
    QTest::newRow("two sections") << first + second << firstSize << 4096 << 0;
    QTest::newRow("big-endian first section")
            << second + first << int(second.size()) << 4096 << 0;
    QTest::newRow("a read ends inside the second section's header")
            << first + second << firstSize << firstSize + 4 << 0;
    QTest::newRow("byte by byte") << first + second << firstSize << 1 << 0;
    QTest::newRow("a large filler block before the packets")
            << pcapngSection(1, {packet}, false, 70000) + second
            << int(pcapngSection(1, {packet}, false, 70000).size()) << 4096 << 0;
    QTest::newRow("seek past blocks not yet followed")
            << first + second << firstSize << 4096 << interfaceAt;
    QTest::newRow("file ends inside a block header")
            << first + second.left(5) << firstSize + 5 << 4096 << 0;
    // libpcap refuses such a block: nothing after it is read, so nothing is hidden.
    QTest::newRow("block length not a multiple of 4")
            << first + QByteArray("\6\0\0\0\x0D\0\0\0", 8) + second
            << int(first.size() + 8 + second.size()) << 4096 << 0;
    const QByteArray pcap = ethernetFile({Ipv4Udp().bytes()}) + second;
    QTest::newRow("pcap file, shown whole") << pcap << int(pcap.size()) << 4096 << 0;
}

// The stream over a pcapng file's first section ends where the second section's header begins,
// however the reads fall.
void tst_CaptureFile::pcapngFirstSection()
{
    QFETCH(QByteArray, file);
    QFETCH(int, shownBytes);
    QFETCH(int, readSize);
    QFETCH(int, startAt);
    FILE *stream = PcapngFirstSection::open(fmemopen(file.data(), size_t(file.size()), "rb"));
    QVERIFY(stream);
    setvbuf(stream, nullptr, _IONBF, 0);
    for (int pass = 0; pass < 2; ++pass) {
        QVERIFY(std::fseek(stream, pass == 0 ? startAt : 0, SEEK_SET) == 0);
        QByteArray shown;
        QByteArray chunk(readSize, '\0');
        for (size_t count; (count = std::fread(chunk.data(), 1, size_t(readSize), stream)) > 0;)
            shown += chunk.left(qsizetype(count));
        QCOMPARE(shown.size(), shownBytes - (pass == 0 ? startAt : 0));
        QVERIFY(shown == file.mid(pass == 0 ? startAt : 0, shown.size()));
        QCOMPARE(std::ftell(stream), long(shownBytes));
        std::clearerr(stream);
    }
    QCOMPARE(std::fclose(stream), 0);
}

QTEST_GUILESS_MAIN(tst_CaptureFile)
#include "tst_capturefile.moc"
