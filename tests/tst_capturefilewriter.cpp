// Capturing to a pcap file through the capture session, with real datagrams from the peer
// namespace on both ports and no Record: Wireshark's tshark must read every record back field
// by field; a size limit ends the capture before the record that would pass it; a full disk
// leaves a file cut to whole records (the last under tests/fulldisk-run).
#include "capturesession.h"
#include "privatenetwork.h"
#include "smallfilesystem.h"
#include "testpackets.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

namespace {

constexpr quint64 FileHeaderBytes = 24;
constexpr quint64 RecordOverheadBytes = 16 + 20 + 8; // pcap record, IPv4 and UDP headers
const char *const Broadcast = "2.255.255.255";

struct Sent
{
    const char *destination;
    quint16 port;
    QByteArray datagram;
    QString decoded; // opcode and universe as tshark gives them
};

QList<Sent> showTraffic()
{
    TestPackets::SacnData sacn;
    sacn.universe = 7;
    sacn.values = QByteArray(512, '\x20');
    return {{Broadcast, 6454, TestPackets::artPoll(0x02), QStringLiteral("0x2000||")},
            {PrivateNetwork::LocalAddress, 6454, TestPackets::artDmx(2, QByteArray(512, '\x10')),
             QStringLiteral("0x5000|2|")},
            {PrivateNetwork::LocalAddress, 5568, TestPackets::sacnData(sacn), QStringLiteral("||7")},
            {PrivateNetwork::LocalAddress, 6454, TestPackets::artDmx(3, QByteArray(512, '\x11')),
             QStringLiteral("0x5000|3|")}};
}

// tshark's reading of the file: one line per record, the fields joined by '|'; empty with the
// error when it did not read the whole file.
QStringList tsharkRecords(const QString &path, QString *error)
{
    QProcess tshark;
    tshark.start(QStandardPaths::findExecutable(QStringLiteral("tshark")),
                 {"-r", path, "-o", "ip.check_checksum:TRUE", "-d", "udp.port==6454,artnet", "--enable-heuristic",
                  "acn", "-o", "acn.dmx_enable:TRUE", "-T", "fields", "-E", "separator=|", "-e",
                  "frame.time_epoch", "-e", "ip.src", "-e", "ip.dst", "-e", "udp.srcport", "-e",
                  "udp.dstport", "-e", "ip.checksum.status", "-e", "udp.length", "-e",
                  "artnet.header.opcode", "-e", "artnet.output.universe", "-e",
                  "acn.dmx.universe"});
    if (!tshark.waitForFinished(30000) || tshark.exitCode() != 0) {
        *error = QString::fromLocal8Bit(tshark.readAllStandardError());
        return {};
    }
    return QString::fromUtf8(tshark.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

std::unique_ptr<QUdpSocket> peerSocket()
{
    QString error;
    auto socket = std::make_unique<QUdpSocket>();
    const int descriptor = PrivateNetwork::peerUdpSocket(PrivateNetwork::PeerAddress, 0, &error);
    if (descriptor < 0 || !socket->setSocketDescriptor(descriptor))
        qWarning("peer socket: %s", qPrintable(error));
    return socket;
}

bool captureEnded(const CaptureSession &session, CaptureFileWriter::Ending ending)
{
    return QTest::qWaitFor([&] { return session.captureStatus().ending == ending; }, 5000);
}

} // namespace

class tst_CaptureFileWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void writesWhatTheSocketsReceive_data();
    void writesWhatTheSocketsReceive();
    void fullDiskLeavesWholeRecords();
};

void tst_CaptureFileWriter::initTestCase()
{
    VARDOLUX_REQUIRE_PRIVATE_NETWORK();
    if (QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty())
        QSKIP("tshark is not installed (Debian package tshark; ./build.sh test installs it)");
}

void tst_CaptureFileWriter::writesWhatTheSocketsReceive_data()
{
    QTest::addColumn<int>("recordsAllowed"); // by the size limit; -1: the default limit
    QTest::addColumn<int>("recordsWritten");
    QTest::addColumn<CaptureFileWriter::Ending>("ending");
    QTest::newRow("every datagram, polls and both protocols")
            << -1 << 4 << CaptureFileWriter::Ending::Stopped;
    QTest::newRow("size limit one byte short of the third record")
            << 2 << 2 << CaptureFileWriter::Ending::SizeLimit;
    QTest::newRow("size limit below the first record")
            << 0 << 0 << CaptureFileWriter::Ending::SizeLimit;
}

void tst_CaptureFileWriter::writesWhatTheSocketsReceive()
{
    QFETCH(int, recordsAllowed);
    QFETCH(int, recordsWritten);
    QFETCH(CaptureFileWriter::Ending, ending);
    const QList<Sent> traffic = showTraffic();
    quint64 sizeLimit = FileHeaderBytes;
    for (int i = 0; i <= recordsAllowed && i < traffic.size(); ++i)
        sizeLimit += RecordOverheadBytes + quint64(traffic[i].datagram.size());
    if (recordsAllowed < 0)
        sizeLimit = quint64(4) << 30;
    else
        sizeLimit -= 1;
    std::unique_ptr<QUdpSocket> peer = peerSocket();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("show.pcap"));
    CaptureSession session;
    session.start({});
    QVERIFY(session.startCapture(path, sizeLimit));

    const qint64 beforeUs = QDateTime::currentMSecsSinceEpoch() * 1000;
    for (const Sent &sent : traffic) {
        QCOMPARE(peer->writeDatagram(sent.datagram, QHostAddress(sent.destination), sent.port),
                 sent.datagram.size());
        // One at a time, so that the order of arrival is the order sent across both sockets.
        const quint64 seen = session.captureStatus().datagrams;
        const bool seenByNow = QTest::qWaitFor(
                [&] { return session.captureStatus().datagrams > seen; }, 500);
        Q_UNUSED(seenByNow) // past the size limit nothing more is written
    }
    if (ending == CaptureFileWriter::Ending::Stopped)
        QTRY_COMPARE(session.captureStatus().datagrams, quint64(traffic.size()));
    else
        QVERIFY(captureEnded(session, ending));
    session.stopCapture();
    const qint64 afterUs = QDateTime::currentMSecsSinceEpoch() * 1000 + 1000;
    const CaptureFileWriter::Status status = session.captureStatus();
    QCOMPARE(status.ending, ending);
    QVERIFY(status.bytesWritten <= sizeLimit);
    QCOMPARE(QFileInfo(path).size(), qint64(status.bytesWritten));

    QString error;
    const QStringList records = tsharkRecords(path, &error); // checksum status 1: good
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(records.size(), recordsWritten);
    qint64 previousUs = beforeUs;
    for (int i = 0; i < records.size(); ++i) {
        const QStringList fields = records[i].split('|');
        const Sent &sent = traffic[i];
        const qint64 timeUs = qRound64(fields[0].toDouble() * 1e6);
        QVERIFY2(timeUs >= previousUs && timeUs <= afterUs, qPrintable(records[i]));
        previousUs = timeUs;
        QCOMPARE(fields.mid(1, 6),
                 QStringList({PrivateNetwork::PeerAddress, sent.destination,
                              QString::number(peer->localPort()), QString::number(sent.port),
                              QStringLiteral("1"), QString::number(8 + sent.datagram.size())}));
        QCOMPARE(fields.mid(7).join('|'), sent.decoded);
    }
}

void tst_CaptureFileWriter::fullDiskLeavesWholeRecords()
{
    VARDOLUX_REQUIRE_EMPTY_SMALL_FILE_SYSTEM();
    const QString path = QDir(SmallFileSystem::path()).filePath(QStringLiteral("full.pcap"));
    std::unique_ptr<QUdpSocket> peer = peerSocket();
    CaptureSession session;
    session.start({});
    QVERIFY(session.startCapture(path, quint64(4) << 30));
    const QByteArray dmx = TestPackets::artDmx(0, QByteArray(512, '\x7f'));
    // The file system holds some 16 KiB: about 28 records.
    for (int i = 0; i < 100 && session.captureStatus().ending == CaptureFileWriter::Ending::Running;
         ++i) {
        peer->writeDatagram(dmx, QHostAddress(PrivateNetwork::LocalAddress), 6454);
        QTest::qWait(5);
    }
    QVERIFY(captureEnded(session, CaptureFileWriter::Ending::WriteError));
    session.stopCapture();
    const CaptureFileWriter::Status status = session.captureStatus();
    QVERIFY2(status.error.contains(QLatin1String("No space left on device")),
             qPrintable(status.error));
    const qint64 size = QFileInfo(path).size();
    QCOMPARE(size, qint64(status.bytesWritten));
    const qint64 recordBytes = qint64(RecordOverheadBytes) + dmx.size();
    QCOMPARE((size - qint64(FileHeaderBytes)) % recordBytes, 0);
    QString error;
    const QStringList records = tsharkRecords(path, &error); // checksum status 1: good
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(records.size(), (size - qint64(FileHeaderBytes)) / recordBytes);
    QVERIFY(!records.isEmpty());
}

QTEST_GUILESS_MAIN(tst_CaptureFileWriter)
#include "tst_capturefilewriter.moc"
