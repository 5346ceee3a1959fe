// A second opinion on what the engine puts on the wire: Wireshark's Art-Net dissector (through
// tshark) decodes the packets captured on the test network, and its fields must say what we
// meant to send. Our own tests read the bytes with our own offsets, so a misplaced field would
// pass them; it does not pass an independent decoder.
#include "artnet.h"
#include "privatenetwork.h"

#include <QElapsedTimer>
#include <QHash>
#include <QNetworkInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <iterator>

namespace {

// The fields asked of tshark, one column each.
const QStringList Fields = {
    QStringLiteral("ip.src"),
    QStringLiteral("ip.dst"),
    QStringLiteral("udp.srcport"),
    QStringLiteral("udp.dstport"),
    QStringLiteral("udp.length"),
    QStringLiteral("artnet.header.id"),
    QStringLiteral("artnet.header.opcode"),
    QStringLiteral("artnet.header.protver"),
    QStringLiteral("artnet.output.sequence"),
    QStringLiteral("artnet.output.physical"),
    QStringLiteral("artnet.output.universe"),
    QStringLiteral("artnet.output.length"),
    QStringLiteral("dmx_chan.data_filter"),
    QStringLiteral("artnet.poll.talktome"),
    QStringLiteral("artnet.poll.diag_priority"),
    QStringLiteral("artnet.poll_reply.ip_address"),
    QStringLiteral("artnet.poll_reply.port_nr"),
    QStringLiteral("artnet.poll_reply.versinfo"),
    QStringLiteral("artnet.poll_reply.netswitch"),
    QStringLiteral("artnet.poll_reply.subswitch"),
    QStringLiteral("artnet.poll_reply.oem"),
    QStringLiteral("artnet.poll_reply.esta_man"),
    QStringLiteral("artnet.poll_reply.short_name"),
    QStringLiteral("artnet.poll_reply.long_name"),
    QStringLiteral("artnet.poll_reply.node_report"),
    QStringLiteral("artnet.poll_reply.num_ports"),
    QStringLiteral("artnet.poll_reply.port_types_1"),
    QStringLiteral("artnet.poll_reply.port_types_2"),
    QStringLiteral("artnet.poll_reply.port_types_3"),
    QStringLiteral("artnet.poll_reply.port_types_4"),
    QStringLiteral("artnet.poll_reply.good_input_1"),
    QStringLiteral("artnet.poll_reply.good_output_1"),
    QStringLiteral("artnet.poll_reply.good_output_2"),
    QStringLiteral("artnet.poll_reply.good_output_3"),
    QStringLiteral("artnet.poll_reply.good_output_4"),
    QStringLiteral("artnet.poll_reply.swin_1"),
    QStringLiteral("artnet.poll_reply.swout_1"),
    QStringLiteral("artnet.poll_reply.swout_2"),
    QStringLiteral("artnet.poll_reply.swout_3"),
    QStringLiteral("artnet.poll_reply.swout_4"),
    QStringLiteral("artnet.poll_reply.swout_1_universe"),
    QStringLiteral("artnet.poll_reply.style"),
    QStringLiteral("artnet.poll_reply.mac"),
    QStringLiteral("artnet.poll_reply.bind_ip_address"),
    QStringLiteral("artnet.poll_reply.bind_index"),
    QStringLiteral("artnet.poll_reply.status2"),
};

using Packet = QHash<QString, QString>;

// A number as tshark prints it: decimal, or hexadecimal with 0x.
uint number(const Packet &packet, const char *field)
{
    bool ok = false;
    const uint value = packet.value(QLatin1String(field)).toUInt(&ok, 0);
    return ok ? value : 0xFFFFFFFFu;
}

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

// The test frames: distinct in every byte, so that a shifted or reordered copy shows.
QByteArray frame(int length, int seed)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char(quint8(seed + 31 * i));
    return bytes;
}

struct DmxCase
{
    const char *name;
    quint16 universe; // 1-based, as the user sees it
    int length;
};

const DmxCase DmxCases[] = {
    {"universe 1, 512 channels", 1, 512},
    {"universe 16, 3 channels", 16, 3},
    {"universe 257 (Net 1), 3 channels", 257, 3},
    {"universe 32768, 2 channels", 32768, 2},
    {"universe 65535, 511 channels", 65535, 511},
};

struct PollCase
{
    const char *name;
    quint16 universe; // receive universe while the poll arrives, 1-based
};

const PollCase PollCases[] = {
    {"universe 258: Net 1", 258},
    {"universe 4661: Net 0x12, Sub-Net 3, Universe 4", 4661},
    {"universe 20: Sub-Net 1", 20},
    {"universe 292: Net 1, Sub-Net 2, Universe 3", 292},
};

} // namespace

class tst_ArtnetInterop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void artDmx_data();
    void artDmx();
    void artPoll();
    void artPollReply_data();
    void artPollReply();
    void nothingElseOnTheWire();

private:
    QString sendEverything(QUdpSocket &peer);
    bool startCapture(int expectedPackets, QString *error);
    bool stopCapture(QString *error);
    bool decode(QString *error);
    QList<Packet> packetsWith(const QString &field, const QString &value) const;

    QTemporaryDir m_dir;
    QString m_tshark;
    QProcess m_capture;
    QList<Packet> m_packets;
    QString m_macText;
};

void tst_ArtnetInterop::initTestCase()
{
    VARDOLUX_REQUIRE_PRIVATE_NETWORK();
    m_tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (m_tshark.isEmpty())
        QSKIP("tshark is not installed (Debian package tshark; ./build.sh test installs it): "
              "no independent decoder to compare with");
    QVERIFY2(PrivateNetwork::hasPeer(), "needs the peer namespace (register the test with PEER)");
    QVERIFY(m_dir.isValid());
    m_macText = QNetworkInterface::interfaceFromName(QStringLiteral("art0")).hardwareAddress();
    QVERIFY2(!m_macText.isEmpty(), "art0 has no hardware address");

    QString error;
    QString peerError;
    const int peerFd = PrivateNetwork::peerUdpSocket(QString::fromLatin1(PrivateNetwork::PeerAddress),
                                                     6454, &peerError);
    QVERIFY2(peerFd >= 0, qPrintable(peerError));
    QUdpSocket peer;
    QVERIFY(peer.setSocketDescriptor(peerFd, QUdpSocket::BoundState));

    const int pollRounds = int(std::size(PollCases));
    // Each DMX case, one ArtPoll of ours on art0's broadcast address, and per poll round the
    // peer's ArtPoll and our reply.
    const int expected = int(std::size(DmxCases)) + 1 + 2 * pollRounds;
    QVERIFY2(startCapture(expected, &error), qPrintable(error));

    // The engine reports its sends on standard output, where QtTest writes too.
    const QString failure = sendEverything(peer);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    QVERIFY2(stopCapture(&error), qPrintable(error));
    QVERIFY2(decode(&error), qPrintable(error));
}

QString tst_ArtnetInterop::sendEverything(QUdpSocket &peer)
{
    StdoutCapture quiet;
    artnet engine;
    for (const DmxCase &dmxCase : DmxCases) {
        const QByteArray data = frame(dmxCase.length, dmxCase.universe);
        const qint64 sent = engine.sendDmx(reinterpret_cast<const uchar *>(data.constData()),
                                           quint16(data.size()), dmxCase.universe);
        if (sent != 18 + dmxCase.length)
            return QStringLiteral("%1: sendDmx gave %2").arg(QLatin1String(dmxCase.name)).arg(sent);
    }
    if (engine.sendPoll() <= 0)
        return QStringLiteral("sendPoll sent nothing");
    engine.stopSending();

    // Identity as the window sets it.
    engine.m_versionHi = 0;
    engine.m_versionLo = 6;
    engine.m_oemHi = 0x00;
    engine.m_oemLo = 0xFF;
    engine.m_shortName = QStringLiteral("Vardolux");
    engine.m_longName = QStringLiteral("Vardolux V0.6 by www.vardolux.example");

    const char pollBytes[14] = {
        'A', 'r', 't', '-', 'N', 'e', 't', 0, // ID
        0x00, 0x20,                           // OpCode 0x2000 (ArtPoll), little-endian
        0, 14,                                // ProtVerHi, ProtVerLo
        0,                                    // TalkToMe
        0,                                    // Priority
    };
    const QByteArray poll(pollBytes, sizeof pollBytes);
    if (!engine.setPollMode(true))
        return QStringLiteral("poll mode could not be switched on");
    for (const PollCase &pollCase : PollCases) {
        engine.setReceiveUniverse(pollCase.universe);
        uchar levels[512];
        quint16 length = sizeof levels;
        engine.readUniverse(levels, &length); // reception on: one port to announce
        QSignalSpy replied(&peer, &QUdpSocket::readyRead);
        peer.writeDatagram(poll, QHostAddress(QString::fromLatin1(PrivateNetwork::LocalAddress)), 6454);
        if (!replied.wait(3000))
            return QStringLiteral("%1: no ArtPollReply came back").arg(QLatin1String(pollCase.name));
        while (peer.hasPendingDatagrams())
            peer.readDatagram(nullptr, 0);
    }
    return QString();
}

bool tst_ArtnetInterop::startCapture(int expectedPackets, QString *error)
{
    m_capture.setProgram(m_tshark);
    m_capture.setArguments({QStringLiteral("-i"), QStringLiteral("art0"), QStringLiteral("-f"),
                            QStringLiteral("udp port 6454"), QStringLiteral("-w"),
                            m_dir.filePath(QStringLiteral("wire.pcap")), QStringLiteral("-c"),
                            QString::number(expectedPackets), QStringLiteral("-a"),
                            QStringLiteral("duration:30")});
    m_capture.setProcessChannelMode(QProcess::MergedChannels);
    m_capture.start();
    if (!m_capture.waitForStarted(5000)) {
        *error = QStringLiteral("tshark did not start: ") + m_capture.errorString();
        return false;
    }
    // tshark first names the interface, then says "Capture started" once dumpcap really
    // captures; what is sent before that is not seen.
    QByteArray said;
    QElapsedTimer clock;
    clock.start();
    while (!said.contains("Capture started") && clock.elapsed() < 20000) {
        if (m_capture.state() != QProcess::Running) {
            *error = QStringLiteral("tshark ended: ") + QString::fromLocal8Bit(said);
            return false;
        }
        m_capture.waitForReadyRead(200);
        said += m_capture.readAll();
    }
    if (!said.contains("Capture started")) {
        *error = QStringLiteral("tshark did not start capturing: ") + QString::fromLocal8Bit(said);
        return false;
    }
    return true;
}

bool tst_ArtnetInterop::stopCapture(QString *error)
{
    // tshark ends by itself after the expected number of packets; the wait only bounds it.
    if (!m_capture.waitForFinished(10000)) {
        m_capture.terminate();
        m_capture.waitForFinished(5000);
        qWarning("tshark had not seen every expected packet within 10 s: %s",
                 m_capture.readAll().constData());
    }
    if (m_capture.exitStatus() != QProcess::NormalExit) {
        *error = QStringLiteral("tshark crashed: ") + QString::fromLocal8Bit(m_capture.readAll());
        return false;
    }
    return true;
}

bool tst_ArtnetInterop::decode(QString *error)
{
    QStringList arguments{QStringLiteral("-r"), m_dir.filePath(QStringLiteral("wire.pcap")),
                          QStringLiteral("-d"), QStringLiteral("udp.port==6454,artnet"),
                          QStringLiteral("-T"), QStringLiteral("fields"),
                          QStringLiteral("-E"), QStringLiteral("separator=|")};
    for (const QString &field : Fields)
        arguments << QStringLiteral("-e") << field;
    QProcess reader;
    reader.start(m_tshark, arguments);
    if (!reader.waitForFinished(30000) || reader.exitCode() != 0) {
        *error = QStringLiteral("tshark could not read the capture: ")
                 + QString::fromLocal8Bit(reader.readAllStandardError());
        return false;
    }
    const QStringList lines = QString::fromUtf8(reader.readAllStandardOutput())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QStringList values = line.split(QLatin1Char('|'));
        if (values.size() != Fields.size()) {
            *error = QStringLiteral("unexpected line from tshark: ") + line;
            return false;
        }
        Packet packet;
        for (int i = 0; i < Fields.size(); ++i)
            packet.insert(Fields.at(i), values.at(i));
        m_packets << packet;
    }
    return true;
}

QList<Packet> tst_ArtnetInterop::packetsWith(const QString &field, const QString &value) const
{
    QList<Packet> found;
    for (const Packet &packet : m_packets)
        if (packet.value(field) == value)
            found << packet;
    return found;
}

void tst_ArtnetInterop::artDmx_data()
{
    QTest::addColumn<int>("universe");
    QTest::addColumn<int>("length");
    for (const DmxCase &dmxCase : DmxCases)
        QTest::newRow(dmxCase.name) << int(dmxCase.universe) << dmxCase.length;
}

void tst_ArtnetInterop::artDmx()
{
    QFETCH(int, universe);
    QFETCH(int, length);

    // tshark shows the 15-bit port-address, which is the user's universe number minus one.
    const QList<Packet> found = packetsWith(QStringLiteral("artnet.output.universe"),
                                            QString::number(universe - 1));
    QVERIFY2(found.size() == 1, qPrintable(QStringLiteral("%1 ArtDmx with port-address %2 decoded")
                                               .arg(found.size()).arg(universe - 1)));
    const Packet &packet = found.first();
    QCOMPARE(packet.value(QStringLiteral("artnet.header.id")), QStringLiteral("Art-Net"));
    QCOMPARE(number(packet, "artnet.header.opcode"), 0x5000u);
    QCOMPARE(number(packet, "artnet.header.protver"), 14u);
    QCOMPARE(number(packet, "artnet.output.sequence"), 0u);
    QCOMPARE(number(packet, "artnet.output.physical"), 0u);
    QCOMPARE(number(packet, "artnet.output.length"), uint(length));
    QCOMPARE(number(packet, "udp.length"), uint(8 + 18 + length));
    QCOMPARE(packet.value(QStringLiteral("ip.dst")), QStringLiteral("255.255.255.255"));
    QCOMPARE(number(packet, "udp.dstport"), 6454u);
    QCOMPARE(number(packet, "udp.srcport"), 6454u);
    const QString data = packet.value(QStringLiteral("dmx_chan.data_filter")).remove(QLatin1Char(':'));
    QCOMPARE(data, hexBytes(frame(length, universe)));
}

void tst_ArtnetInterop::artPoll()
{
    const QList<Packet> polls = packetsWith(QStringLiteral("artnet.header.opcode"),
                                            QStringLiteral("0x2000"));
    QList<Packet> ours;
    for (const Packet &packet : polls)
        if (packet.value(QStringLiteral("ip.src")) == QLatin1String(PrivateNetwork::LocalAddress))
            ours << packet;
    QVERIFY2(ours.size() == 1, qPrintable(QStringLiteral("%1 ArtPoll from us decoded").arg(ours.size())));
    const Packet &poll = ours.first();
    // Sent to art0's broadcast address, 2.0.0.10/8.
    QCOMPARE(poll.value(QStringLiteral("ip.dst")), QStringLiteral("2.255.255.255"));
    QCOMPARE(number(poll, "udp.dstport"), 6454u);
    QCOMPARE(number(poll, "udp.length"), uint(8 + 14));
    QCOMPARE(poll.value(QStringLiteral("artnet.header.id")), QStringLiteral("Art-Net"));
    QCOMPARE(number(poll, "artnet.header.protver"), 14u);
    QCOMPARE(number(poll, "artnet.poll.talktome"), 0u);
    QCOMPARE(number(poll, "artnet.poll.diag_priority"), 0u);
}

void tst_ArtnetInterop::artPollReply_data()
{
    QTest::addColumn<int>("universe");
    for (const PollCase &pollCase : PollCases)
        QTest::newRow(pollCase.name) << int(pollCase.universe);
}

void tst_ArtnetInterop::artPollReply()
{
    QFETCH(int, universe);
    const uint portAddress = uint(universe - 1);

    QList<Packet> found;
    for (const Packet &packet : packetsWith(QStringLiteral("artnet.header.opcode"),
                                            QStringLiteral("0x2100")))
        if (number(packet, "artnet.poll_reply.swout_1_universe") == portAddress)
            found << packet;
    QVERIFY2(found.size() == 1,
             qPrintable(QStringLiteral("%1 ArtPollReply announcing port-address %2 decoded")
                            .arg(found.size()).arg(portAddress)));
    const Packet &reply = found.first();

    QCOMPARE(reply.value(QStringLiteral("ip.src")), QLatin1String(PrivateNetwork::LocalAddress));
    QCOMPARE(reply.value(QStringLiteral("ip.dst")), QLatin1String(PrivateNetwork::PeerAddress));
    QCOMPARE(number(reply, "udp.dstport"), 6454u);
    QCOMPARE(number(reply, "udp.length"), uint(8 + 240));
    QCOMPARE(reply.value(QStringLiteral("artnet.header.id")), QStringLiteral("Art-Net"));
    QCOMPARE(reply.value(QStringLiteral("artnet.poll_reply.ip_address")),
             QLatin1String(PrivateNetwork::LocalAddress));
    QCOMPARE(number(reply, "artnet.poll_reply.port_nr"), 6454u);
    QCOMPARE(number(reply, "artnet.poll_reply.versinfo"), 0x0006u);
    // Net (bits 14-8), Sub-Net (bits 7-4) and Universe (bits 3-0) of the announced port.
    QCOMPARE(number(reply, "artnet.poll_reply.netswitch"), (portAddress >> 8) & 0x7F);
    QCOMPARE(number(reply, "artnet.poll_reply.subswitch"), (portAddress >> 4) & 0x0F);
    // SwIn and SwOut carry the whole low byte; the dissector takes its Universe nibble.
    QCOMPARE(number(reply, "artnet.poll_reply.swout_1"), portAddress & 0xFF);
    QCOMPARE(number(reply, "artnet.poll_reply.swout_2"), 0u);
    QCOMPARE(number(reply, "artnet.poll_reply.swout_3"), 0u);
    QCOMPARE(number(reply, "artnet.poll_reply.swout_4"), 0u);
    QCOMPARE(number(reply, "artnet.poll_reply.swin_1"), portAddress & 0xFF);
    QCOMPARE(number(reply, "artnet.poll_reply.oem"), 0x00FFu);
    QCOMPARE(number(reply, "artnet.poll_reply.esta_man"), 0u);
    QCOMPARE(reply.value(QStringLiteral("artnet.poll_reply.short_name")), QStringLiteral("Vardolux"));
    QCOMPARE(reply.value(QStringLiteral("artnet.poll_reply.long_name")),
             QStringLiteral("Vardolux V0.6 by www.vardolux.example"));
    QCOMPARE(reply.value(QStringLiteral("artnet.poll_reply.node_report")), QString());
    QCOMPARE(number(reply, "artnet.poll_reply.num_ports"), 1u);
    QCOMPARE(number(reply, "artnet.poll_reply.port_types_1"), 0x85u);
    QCOMPARE(number(reply, "artnet.poll_reply.port_types_2"), 0x85u);
    QCOMPARE(number(reply, "artnet.poll_reply.port_types_3"), 0x85u);
    QCOMPARE(number(reply, "artnet.poll_reply.port_types_4"), 0x85u);
    QCOMPARE(number(reply, "artnet.poll_reply.good_input_1"), 0u);
    QCOMPARE(number(reply, "artnet.poll_reply.good_output_1"), 0x80u);
    QCOMPARE(number(reply, "artnet.poll_reply.good_output_4"), 0x80u);
    QCOMPARE(number(reply, "artnet.poll_reply.style"), 0u);
    QCOMPARE(reply.value(QStringLiteral("artnet.poll_reply.mac")).toUpper(), m_macText.toUpper());
    QCOMPARE(reply.value(QStringLiteral("artnet.poll_reply.bind_ip_address")),
             QStringLiteral("0.0.0.0"));
    QCOMPARE(number(reply, "artnet.poll_reply.bind_index"), 0u);
    QCOMPARE(number(reply, "artnet.poll_reply.status2"), 0u);
}

void tst_ArtnetInterop::nothingElseOnTheWire()
{
    // Every packet seen on the test network is one the cases above account for.
    QStringList unexpected;
    for (const Packet &packet : m_packets) {
        const uint opCode = number(packet, "artnet.header.opcode");
        const QString source = packet.value(QStringLiteral("ip.src"));
        const bool ours = source == QLatin1String(PrivateNetwork::LocalAddress);
        const bool known = (ours && (opCode == 0x5000 || opCode == 0x2000 || opCode == 0x2100))
                           || (!ours && opCode == 0x2000);
        if (!known)
            unexpected << QStringLiteral("%1 -> %2 opcode 0x%3")
                              .arg(source, packet.value(QStringLiteral("ip.dst")))
                              .arg(opCode, 4, 16, QLatin1Char('0'));
    }
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QStringLiteral("; "))));
    const int expected = int(std::size(DmxCases)) + 1 + 2 * int(std::size(PollCases));
    QCOMPARE(m_packets.size(), expected);
}

QTEST_GUILESS_MAIN(tst_ArtnetInterop)
#include "tst_artnetinterop.moc"
