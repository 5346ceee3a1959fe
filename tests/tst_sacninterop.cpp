// sACN against stacks of other makers on the private test network. What the sender puts on the
// wire must be read as meant by npm's sacn Receiver, by OLA's olad (E1.31 plugin) and by
// Wireshark's dissector (tshark); what olad and npm's sacn Sender send must be merged by the
// receiver as E1.31 says. Neither olad 0.10 nor npm sacn 4.6.2 sends per-address priority
// (start code 0xDD), so that part of the merge is held by tst_sacnmerge alone.
#include "interoppeers.h"
#include "olapeer.h"
#include "privatenetwork.h"
#include "sacnreceiver.h"
#include "sacnsender.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <initializer_list>

namespace {

const QString SourceName = QStringLiteral("Vardolux on stage");

// Distinct in every slot, so that a shifted or cut copy shows.
QByteArray pattern(int size, int seed)
{
    QByteArray levels(size, '\0');
    for (int i = 0; i < size; ++i)
        levels[i] = char(quint8(seed + 31 * i));
    return levels;
}

QByteArray cidBytes()
{
    const SacnPackets::Cid cid = SacnSender::machineCid();
    return QByteArray(reinterpret_cast<const char *>(cid.data()), int(cid.size()));
}

// A command line's words.
QStringList words(std::initializer_list<const char *> list)
{
    QStringList result;
    for (const char *word : list)
        result << QString::fromLatin1(word);
    return result;
}

// The levels of tshark's DMX table: after its header, one line per 20 slots ("001-020: ..."),
// decimal with zeros shown, "|" between the tens.
QByteArray tsharkLevels(const QString &table)
{
    QByteArray levels;
    const QStringList lines = table.split(QLatin1Char('~'));
    for (const QString &line : lines.mid(1)) {
        const QStringList values =
                line.section(QLatin1Char(':'), 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &value : values)
            if (value != QLatin1String("|"))
                levels.append(char(value.toInt()));
    }
    return levels;
}

} // namespace

class tst_sacninterop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void npmReceiverReadsSender();
    void oladReadsSender();
    void tsharkDecodesSender();
    void receiverMergesOladAndNpm();

private:
    // The packets npm's receiver printed from now on, until `count` came or 3 s passed.
    QList<QJsonObject> npmPackets(int count);
    bool startOla();

    InteropPeers m_npm{QStringLiteral(VARDOLUX_TEST_SOURCE_DIR "/interop"),
                       QStringLiteral(VARDOLUX_INTEROP_PEERS_DIR)};
    std::unique_ptr<OlaPeer> m_ola;
};

void tst_sacninterop::initTestCase()
{
    VARDOLUX_REQUIRE_PRIVATE_NETWORK();
    QVERIFY2(PrivateNetwork::hasPeer(), "needs the peer namespace (register the test with PEER)");
}

void tst_sacninterop::cleanup()
{
    m_npm.stopAll();
    m_ola.reset();
}

QList<QJsonObject> tst_sacninterop::npmPackets(int count)
{
    QProcess *receiver = m_npm.processes().front().get();
    QList<QJsonObject> packets;
    QByteArray said;
    (void)QTest::qWaitFor([&] {
        said += receiver->readAll();
        while (said.contains('\n')) {
            const int end = int(said.indexOf('\n'));
            packets << QJsonDocument::fromJson(said.left(end)).object();
            said.remove(0, end + 1);
        }
        return packets.size() >= count;
    }, 3000);
    return packets;
}

void tst_sacninterop::npmReceiverReadsSender()
{
    const QString missing = m_npm.missing({QStringLiteral("sacn")});
    if (missing.startsWith(QLatin1String("Node.js")))
        QSKIP(qPrintable(missing));
    QVERIFY2(missing.isEmpty(), qPrintable(missing));
    QString said;
    QVERIFY2(m_npm.start(QStringLiteral("sacn-receiver.js"), {QStringLiteral("300")}, &said),
             qPrintable(said));

    SacnSender sender;
    sender.setSourceName(SourceName);
    sender.setPriority(150);
    const QByteArray levels = pattern(512, 3);
    QVERIFY(sender.send(levels, 300) > 0);
    QList<QJsonObject> packets = npmPackets(1);
    QCOMPARE(packets.size(), 1);
    const QJsonObject &data = packets.first();
    QCOMPARE(data.value(QLatin1String("universe")).toInt(), 300);
    QCOMPARE(data.value(QLatin1String("cid")).toString(), QString::fromLatin1(cidBytes().toHex()));
    QCOMPARE(data.value(QLatin1String("sourceName")).toString(), SourceName);
    QCOMPARE(data.value(QLatin1String("priority")).toInt(), 150);
    QCOMPARE(data.value(QLatin1String("sequence")).toInt(), 0);
    QCOMPARE(data.value(QLatin1String("options")).toInt(), 0);
    QCOMPARE(data.value(QLatin1String("slots")).toString(), QString::fromLatin1(levels.toHex()));

    sender.stop();
    packets = npmPackets(SacnSender::TerminatedPackets);
    QCOMPARE(packets.size(), SacnSender::TerminatedPackets);
    for (int i = 0; i < packets.size(); ++i) {
        QCOMPARE(packets.at(i).value(QLatin1String("options")).toInt(), 0x40);
        QCOMPARE(packets.at(i).value(QLatin1String("sequence")).toInt(), 1 + i);
    }
}

bool tst_sacninterop::startOla()
{
    const QString missing = OlaPeer::missing();
    if (!missing.isEmpty()) {
        qWarning("%s", qPrintable(missing));
        return false;
    }
    m_ola = std::make_unique<OlaPeer>();
    QString error;
    if (!m_ola->start(&error)) {
        qWarning("%s", qPrintable(error));
        m_ola.reset();
    }
    return m_ola != nullptr;
}

// olad's input port patched to one of its universes takes what the sender sends there, and
// the next frame too.
void tst_sacninterop::oladReadsSender()
{
    if (!OlaPeer::missing().isEmpty())
        QSKIP(qPrintable(OlaPeer::missing()));
    QVERIFY(startOla());
    QVERIFY(m_ola->run(words({"ola_patch", "--input", "--port", "0", "--universe", "12",
                              "--device"})
                       << m_ola->device()));
    SacnSender sender;
    for (const int seed : {5, 77}) {
        const QByteArray levels = pattern(512, seed);
        QVERIFY(sender.send(levels, 12) > 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_ola->levels(12), levels, 3000);
    }
    sender.stop();
}

void tst_sacninterop::tsharkDecodesSender()
{
    const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (tshark.isEmpty())
        QSKIP("tshark is not installed (Debian package tshark; ./build.sh test installs it)");
    QTemporaryDir dir;
    const QString pcap = dir.filePath(QStringLiteral("wire.pcap"));
    QProcess capture;
    capture.setProcessChannelMode(QProcess::MergedChannels);
    // Two data packets and the three that end the stream.
    capture.start(tshark, words({"-i", "art0", "-f", "udp port 5568", "-c", "5", "-a",
                                 "duration:30", "-w"})
                                  << pcap);
    QByteArray said;
    QVERIFY(QTest::qWaitFor([&] {
        said += capture.readAll();
        return said.contains("Capture started") || capture.state() == QProcess::NotRunning;
    }, 20000));
    QVERIFY2(said.contains("Capture started"), said.constData());

    SacnSender sender;
    sender.setSourceName(SourceName);
    sender.setPriority(42);
    const QByteArray first = pattern(512, 9);
    const QByteArray second = pattern(7, 11);
    QVERIFY(sender.send(first, 258) > 0);
    QVERIFY(sender.send(second, 258) > 0);
    sender.stop();
    QVERIFY2(capture.waitForFinished(10000), "tshark did not see five packets");

    QStringList arguments = words({"-r"}) << pcap;
    arguments << words({"--enable-heuristic", "acn", "-o", "acn.dmx_enable:TRUE", "-o",
                        "acn.dmx_display_view:Decimal", "-o", "acn.dmx_display_zeros:TRUE", "-T",
                        "fields", "-E", "aggregator=~"});
    for (const char *field : {"ip.dst", "acn.cid", "acn.dmx.source_name", "acn.dmx.priority",
                              "acn.dmx.seq_number", "acn.dmx.option_s", "acn.dmx.universe",
                              "acn.dmx.start_code2", "acn.dmx.data"})
        arguments << QStringLiteral("-e") << QLatin1String(field);
    QProcess reader;
    reader.start(tshark, arguments);
    QVERIFY(reader.waitForFinished(30000));
    const QStringList lines = QString::fromUtf8(reader.readAllStandardOutput())
                                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 5);
    const QString cid = QUuid::fromRfc4122(cidBytes()).toString(QUuid::WithoutBraces);
    for (int i = 0; i < lines.size(); ++i) {
        const QStringList fields = lines.at(i).split(QLatin1Char('\t'));
        QCOMPARE(fields.size(), 9);
        QCOMPARE(fields.at(0), QStringLiteral("239.255.1.2"));
        QCOMPARE(fields.at(1), cid);
        QCOMPARE(fields.at(2), SourceName);
        QCOMPARE(fields.at(3), QStringLiteral("42"));
        QCOMPARE(fields.at(4).toInt(), i);
        QCOMPARE(fields.at(5), i < 2 ? QStringLiteral("0") : QStringLiteral("1"));
        QCOMPARE(fields.at(6), QStringLiteral("258"));
        QCOMPARE(fields.at(7), QStringLiteral("0"));
        QCOMPARE(tsharkLevels(fields.at(8)), i == 0 ? first : second);
    }
}

// One universe from olad (its output port, fed by ola_streaming_client) and from npm's sacn
// Sender: the higher priority wins whatever its levels; at equal priorities the higher level of
// each slot; olad's unpatched port ends its stream, and the receiver lets it go at once.
void tst_sacninterop::receiverMergesOladAndNpm()
{
    if (!OlaPeer::missing().isEmpty())
        QSKIP(qPrintable(OlaPeer::missing()));
    const QString missing = m_npm.missing({QStringLiteral("sacn")});
    if (missing.startsWith(QLatin1String("Node.js")))
        QSKIP(qPrintable(missing));
    QVERIFY2(missing.isEmpty(), qPrintable(missing));
    SacnReceiver receiver;
    QVERIFY(receiver.open());
    receiver.setUniverseOnShow(7);
    const auto firstSlots = [&receiver] {
        uchar levels[512] = {};
        quint16 length = sizeof levels;
        receiver.readUniverse(levels, &length);
        return QByteArray(reinterpret_cast<const char *>(levels), 3);
    };

    QVERIFY(startOla());
    const QStringList port = words({"--port", "0", "--device"}) << m_ola->device();
    QVERIFY(m_ola->run(words({"ola_patch", "--universe", "7"}) + port));
    QVERIFY(m_ola->run(words({"ola_set_priority", "--override", "150"}) + port));
    // olad sends when its universe changes, not by itself: the client is fed the same frame
    // twice a second, as a console refreshes.
    QProcess client;
    client.start(QStringLiteral("nsenter"),
                 QStringList{QStringLiteral("--net=") + qEnvironmentVariable("VARDOLUX_PEER_NETNS")}
                         + words({"ola_streaming_client", "--universe", "7"}));
    QVERIFY(client.waitForStarted(5000));
    QTimer feed;
    connect(&feed, &QTimer::timeout, &client, [&client] { client.write("50,250,30\n"); });
    feed.start(400);
    QString said;
    const QStringList npmSource = words({"7", "100", "200", "5", "0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c",
                                         "npm source"});
    QVERIFY2(m_npm.start(QStringLiteral("sacn-sender.js"), npmSource, &said), qPrintable(said));

    QTRY_COMPARE_WITH_TIMEOUT(receiver.sources().size(), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(firstSlots(), QByteArray("\x32\xfa\x1e", 3), 3000);
    QList<SacnSourceInfo> sources = receiver.sources();
    std::sort(sources.begin(), sources.end(), [](const SacnSourceInfo &a, const SacnSourceInfo &b) {
        return a.priority < b.priority;
    });
    QCOMPARE(sources.at(0).name, QStringLiteral("npm source"));
    QCOMPARE(sources.at(1).priority, quint8(150));
    QCOMPARE(sources.at(1).name, QStringLiteral("OLA Server"));

    QVERIFY(m_ola->run(words({"ola_set_priority", "--override", "100"}) + port));
    QTRY_COMPARE_WITH_TIMEOUT(firstSlots(), QByteArray("\xc8\xfa\x1e", 3), 3000);

    feed.stop();
    QVERIFY(m_ola->run(words({"ola_patch", "--unpatch", "--universe", "7"}) + port));
    // Well before the 2.5 s after which a silent source would be lost anyway.
    QTRY_COMPARE_WITH_TIMEOUT(receiver.sources().size(), 1, 1000);
    QCOMPARE(firstSlots(), QByteArray("\xc8\xc8\x00", 3));
    client.closeWriteChannel();
    QVERIFY(client.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(tst_sacninterop)
#include "tst_sacninterop.moc"
