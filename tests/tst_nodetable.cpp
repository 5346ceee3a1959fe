// The node table on its own, without a socket: ArtPollReply bytes as real nodes send them go
// in (207 bytes from the oldest, up to 240 from the newest, one reply per port with BindIndex),
// and the node list of the network view comes out.
#include "nodetable.h"

#include <QTest>

namespace {

constexpr quint32 ip(quint8 a, quint8 b, quint8 c, quint8 d)
{
    return quint32(a) << 24 | quint32(b) << 16 | quint32(c) << 8 | d;
}

constexpr quint32 NodeAddress = ip(10, 0, 0, 77);

QByteArray field(const QByteArray &text, int size)
{
    return text.leftJustified(size, '\0', true);
}

// A four-port DMX node at 10.0.0.77, Net 1 Sub-Net 2, as it answers a poll; every field holds a
// value of its own, so a field read from the wrong offset shows.
QByteArray nodeReply(quint8 bindIndex = 3, const QByteArray &shortName = "Stage Left",
                     const QByteArray &longName = "Stage Left 4-port node, rack 2",
                     const QByteArray &report = "#0001 [0042] Power On Tests successful")
{
    QByteArray r("Art-Net", 8);                   //   0 ID "Art-Net" and its zero byte
    r += QByteArray::fromHex("0021");             //   8 OpCode 0x2100, low byte first
    r += QByteArray::fromHex("0a00004d");         //  10 IP 10.0.0.77, most significant first
    r += QByteArray::fromHex("3619");             //  14 Port 0x1936 = 6454, low byte first
    r += QByteArray::fromHex("0104");             //  16 VersInfoH 1, VersInfoL 4
    r += char(0x01);                              //  18 NetSwitch: Net 1
    r += char(0x02);                              //  19 SubSwitch: Sub-Net 2
    r += QByteArray::fromHex("2b9a");             //  20 OemHi 0x2B, Oem 0x9A
    r += char(0x00);                              //  22 Ubea Version
    r += char(0xd2);                              //  23 Status1
    r += QByteArray::fromHex("707a");             //  24 EstaMan 0x7A70, low byte first
    r += field(shortName, 18);                    //  26 ShortName
    r += field(longName, 64);                     //  44 LongName
    r += field(report, 64);                       // 108 NodeReport
    r += char(0x00);                              // 172 NumPortsHi
    r += char(0x04);                              // 173 NumPortsLo
    r += QByteArray::fromHex("80804045");         // 174 PortTypes: out, out, in, in+out
    r += QByteArray::fromHex("00008088");         // 178 GoodInput
    r += QByteArray::fromHex("80820000");         // 182 GoodOutput
    r += QByteArray::fromHex("0c0d0e1f");         // 186 SwIn: only the low nibble counts
    r += QByteArray::fromHex("00010f05");         // 190 SwOut
    r += char(0x00);                              // 194 SwVideo
    r += char(0x00);                              // 195 SwMacro
    r += char(0x00);                              // 196 SwRemote
    r += QByteArray(3, '\0');                     // 197 Spare
    r += char(0x01);                              // 200 Style: StController
    r += QByteArray::fromHex("001122334455");     // 201 MAC, most significant first
    r += QByteArray::fromHex("0a00004d");         // 207 BindIp
    r += char(bindIndex);                         // 211 BindIndex
    r += char(0x0e);                              // 212 Status2
    r += QByteArray(27, '\0');                    // 213 Filler (GoodOutputB, Status3, ...)
    Q_ASSERT(r.size() == 240);
    return r;
}

bool record(NodeTable &table, const QByteArray &reply, quint32 source, qint64 nowMs,
            bool self = false)
{
    return table.recordReply(reinterpret_cast<const uchar *>(reply.constData()),
                             int(reply.size()), source, nowMs, self);
}

quint64 keyOf(const NodeInfo &node)
{
    return quint64(node.sourceAddress) << 8 | node.bindIndex;
}

constexpr quint64 key(quint32 source, quint8 bindIndex)
{
    return quint64(source) << 8 | bindIndex;
}

} // namespace

class tst_NodeTable : public QObject
{
    Q_OBJECT

private slots:
    void parsedFields_data();
    void parsedFields();
    void replySizes_data();
    void replySizes();
    void bindIndexPages_data();
    void bindIndexPages();
    void missedPolls_data();
    void missedPolls();
    void boundOfNodes();
    void forgettingGoneNodesMakesRoom();
    void namesClampedToTheirFields_data();
    void namesClampedToTheirFields();
};

void tst_NodeTable::parsedFields_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<quint32>("source");
    QTest::addColumn<quint8>("bindIndex");
    QTest::addColumn<quint8>("status2");

    // 207 bytes end with the MAC: BindIndex and Status2 did not arrive.
    QTest::newRow("207 bytes, up to the MAC") << 207 << NodeAddress << quint8(0) << quint8(0);
    QTest::newRow("213 bytes, up to Status2") << 213 << NodeAddress << quint8(3) << quint8(0x0e);
    QTest::newRow("239 bytes") << 239 << NodeAddress << quint8(3) << quint8(0x0e);
    QTest::newRow("240 bytes") << 240 << NodeAddress << quint8(3) << quint8(0x0e);
    QTest::newRow("a longer reply is read up to 240 bytes") << 300 << NodeAddress << quint8(3) << quint8(0x0e);
    QTest::newRow("from another address than the one it names")
            << 239 << ip(192, 168, 0, 9) << quint8(3) << quint8(0x0e);
}

void tst_NodeTable::parsedFields()
{
    QFETCH(int, size);
    QFETCH(quint32, source);
    QFETCH(quint8, bindIndex);
    QFETCH(quint8, status2);

    NodeTable table;
    const QByteArray reply = (nodeReply() + QByteArray(100, char(0x5a))).left(size);
    QVERIFY(record(table, reply, source, 1234));
    const QList<NodeInfo> nodes = table.nodes();
    QCOMPARE(nodes.size(), 1);
    const NodeInfo &node = nodes.at(0);
    QCOMPARE(node.packetAddress, NodeAddress);
    QCOMPARE(node.sourceAddress, source);
    QCOMPARE(node.addressMismatch(), source != NodeAddress);
    QCOMPARE(node.port, quint16(6454));
    QCOMPARE(node.firmware, quint16(0x0104));
    QCOMPARE(node.oem, quint16(0x2b9a));
    QCOMPARE(node.esta, quint16(0x7a70));
    QCOMPARE(node.status1, quint8(0xd2));
    QCOMPARE(node.status2, status2);
    QCOMPARE(node.shortName, QStringLiteral("Stage Left"));
    QCOMPARE(node.longName, QStringLiteral("Stage Left 4-port node, rack 2"));
    QCOMPARE(node.nodeReport, QStringLiteral("#0001 [0042] Power On Tests successful"));
    QCOMPARE(node.numPorts, quint16(4));
    const quint8 portTypes[4] = {0x80, 0x80, 0x40, 0x45};
    const quint8 goodInput[4] = {0x00, 0x00, 0x80, 0x88};
    const quint8 goodOutput[4] = {0x80, 0x82, 0x00, 0x00};
    // Net 1 Sub-Net 2 is port-address 0x120; each port adds its own low nibble.
    const quint16 swIn[4] = {0x12c, 0x12d, 0x12e, 0x12f};
    const quint16 swOut[4] = {0x120, 0x121, 0x12f, 0x125};
    for (int j = 0; j < 4; ++j) {
        QCOMPARE(node.portTypes[j], portTypes[j]);
        QCOMPARE(node.goodInput[j], goodInput[j]);
        QCOMPARE(node.goodOutput[j], goodOutput[j]);
        QCOMPARE(node.swIn[j], swIn[j]);
        QCOMPARE(node.swOut[j], swOut[j]);
    }
    QCOMPARE(node.style, quint8(0x01));
    const quint8 mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    QVERIFY(std::equal(mac, mac + 6, node.mac));
    QCOMPARE(node.bindIndex, bindIndex);
    QCOMPARE(node.firstSeenMs, qint64(1234));
    QCOMPARE(node.lastSeenMs, qint64(1234));
    QCOMPARE(node.gone, false);
    QCOMPARE(node.self, false);
    QCOMPARE(table.malformedReplies(), quint64(0));
}

void tst_NodeTable::replySizes_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("stored");

    QTest::newRow("13 bytes") << 13 << false;
    QTest::newRow("26 bytes, up to the names") << 26 << false;
    QTest::newRow("206 bytes, one short of the MAC") << 206 << false;
    QTest::newRow("207 bytes") << 207 << true;
    QTest::newRow("211 bytes, BindIp without BindIndex") << 211 << true;
    QTest::newRow("212 bytes") << 212 << true;
}

void tst_NodeTable::replySizes()
{
    QFETCH(int, size);
    QFETCH(bool, stored);

    NodeTable table;
    QCOMPARE(record(table, nodeReply().left(size), NodeAddress, 0), stored);
    QCOMPARE(record(table, nodeReply().left(size), NodeAddress, 10), stored);
    QCOMPARE(table.nodes().size(), stored ? 1 : 0);
    QCOMPARE(table.malformedReplies(), quint64(stored ? 0 : 2));
    QCOMPARE(table.unstoredReplies(), quint64(0));
    if (stored)
        QCOMPARE(table.nodes().at(0).bindIndex, quint8(size > 211 ? 3 : 0));
}

void tst_NodeTable::bindIndexPages_data()
{
    QTest::addColumn<QList<quint64>>("replies"); // source << 8 | BindIndex, in arrival order
    QTest::addColumn<QList<quint64>>("listed");

    const quint32 a = NodeAddress;
    const quint32 b = ip(10, 0, 0, 9);
    const quint32 c = ip(10, 0, 1, 1);
    QTest::newRow("one reply per port, BindIndex 1 to 4")
            << QList<quint64>{key(a, 1), key(a, 2), key(a, 3), key(a, 4)}
            << QList<quint64>{key(a, 1), key(a, 2), key(a, 3), key(a, 4)};
    QTest::newRow("pages in any order are listed in BindIndex order")
            << QList<quint64>{key(a, 4), key(a, 2), key(a, 3), key(a, 1)}
            << QList<quint64>{key(a, 1), key(a, 2), key(a, 3), key(a, 4)};
    QTest::newRow("a page again replaces itself")
            << QList<quint64>{key(a, 1), key(a, 2), key(a, 1), key(a, 2), key(a, 2)}
            << QList<quint64>{key(a, 1), key(a, 2)};
    QTest::newRow("two nodes interleaved are grouped by address")
            << QList<quint64>{key(c, 1), key(a, 1), key(c, 2), key(b, 0), key(a, 2), key(c, 3)}
            << QList<quint64>{key(b, 0), key(a, 1), key(a, 2), key(c, 1), key(c, 2), key(c, 3)};
    QTest::newRow("BindIndex 0 and 1 are two entries")
            << QList<quint64>{key(a, 0), key(a, 1)} << QList<quint64>{key(a, 0), key(a, 1)};
    QList<quint64> all;
    for (int page = 1; page <= 255; ++page)
        all.prepend(key(a, quint8(page)));
    QList<quint64> sorted = all;
    std::sort(sorted.begin(), sorted.end());
    QTest::newRow("BindIndex 1 to 255 last first") << all << sorted;
}

void tst_NodeTable::bindIndexPages()
{
    QFETCH(QList<quint64>, replies);
    QFETCH(QList<quint64>, listed);

    NodeTable table;
    qint64 now = 0;
    for (quint64 reply : replies)
        QVERIFY(record(table, nodeReply(quint8(reply & 0xff)), quint32(reply >> 8), ++now));
    const QList<NodeInfo> nodes = table.nodes();
    QList<quint64> keys;
    for (const NodeInfo &node : nodes)
        keys.append(keyOf(node));
    QCOMPARE(keys, listed);
    // Each page keeps its own times.
    for (const NodeInfo &node : nodes) {
        const qint64 first = replies.indexOf(keyOf(node)) + 1;
        const qint64 last = replies.lastIndexOf(keyOf(node)) + 1;
        QCOMPARE(node.firstSeenMs, first);
        QCOMPARE(node.lastSeenMs, last);
    }
}

void tst_NodeTable::missedPolls_data()
{
    QTest::addColumn<QByteArray>("events"); // p: a poll goes out, r: the node replies
    QTest::addColumn<int>("missed");
    QTest::addColumn<bool>("gone");

    QTest::newRow("answers every poll") << QByteArray("prprpr") << 0 << false;
    QTest::newRow("the poll just sent is not missed yet") << QByteArray("prp") << 0 << false;
    QTest::newRow("two polls missed") << QByteArray("prppp") << 2 << false;
    QTest::newRow("three polls missed in a row is gone") << QByteArray("prpppp") << 3 << true;
    QTest::newRow("back when it replies") << QByteArray("prppppr") << 0 << false;
    QTest::newRow("gone and back, then one missed") << QByteArray("prpppprpp") << 1 << false;
    QTest::newRow("a reply in between starts the count again") << QByteArray("prpprppp") << 2 << false;
    QTest::newRow("seen before the first poll") << QByteArray("rppp") << 2 << false;
    QTest::newRow("seen before the first poll, then gone") << QByteArray("rpppp") << 3 << true;
    QTest::newRow("first seen between polls") << QByteArray("pprp") << 0 << false;
    QTest::newRow("no polls at all") << QByteArray("rrr") << 0 << false;
}

void tst_NodeTable::missedPolls()
{
    QFETCH(QByteArray, events);
    QFETCH(int, missed);
    QFETCH(bool, gone);

    NodeTable table;
    // Another node answers every poll; what one node misses is its own.
    const quint32 faithful = ip(10, 0, 0, 1);
    QVERIFY(record(table, nodeReply(), faithful, 0));
    qint64 now = 0;
    for (char event : std::as_const(events)) {
        now += 3000;
        if (event == 'p') {
            table.pollSent();
            QVERIFY(record(table, nodeReply(), faithful, now + 10));
        } else {
            QVERIFY(record(table, nodeReply(), NodeAddress, now));
        }
    }
    const QList<NodeInfo> nodes = table.nodes();
    QCOMPARE(nodes.size(), 2);
    QCOMPARE(nodes.at(0).sourceAddress, faithful);
    QCOMPARE(nodes.at(0).missedPolls, 0);
    QCOMPARE(nodes.at(1).sourceAddress, NodeAddress);
    QCOMPARE(nodes.at(1).missedPolls, missed);
    QCOMPARE(nodes.at(1).gone, gone);

    // Forgetting takes a gone node alone; the other keeps its record.
    table.forgetGone();
    const QList<NodeInfo> left = table.nodes();
    QCOMPARE(left.size(), gone ? 1 : 2);
    QCOMPARE(left.at(0).sourceAddress, faithful);
    if (!gone)
        QCOMPARE(left.at(1).missedPolls, missed);
}

void tst_NodeTable::boundOfNodes()
{
    NodeTable table;
    const quint32 first = ip(10, 1, 0, 0);
    for (int n = 0; n < NodeTable::MaxNodes; ++n)
        QVERIFY(record(table, nodeReply(), first + quint32(n), 100));
    QCOMPARE(table.unstoredReplies(), quint64(0));

    // Beyond the bound: counted, not stored, and no stored node is displaced.
    QVERIFY(!record(table, nodeReply(), ip(10, 0, 0, 1), 200));
    QVERIFY(!record(table, nodeReply(4), first, 200)); // a new page of a stored node is new too
    QCOMPARE(table.unstoredReplies(), quint64(2));
    // A stored node still updates.
    QVERIFY(record(table, nodeReply(), first + 5, 300));
    const QList<NodeInfo> nodes = table.nodes();
    QCOMPARE(nodes.size(), NodeTable::MaxNodes);
    QCOMPARE(nodes.first().sourceAddress, first);
    QCOMPARE(nodes.last().sourceAddress, first + quint32(NodeTable::MaxNodes - 1));
    QCOMPARE(nodes.at(5).lastSeenMs, qint64(300));

    table.clear();
    QVERIFY(table.nodes().isEmpty());
    QCOMPARE(table.unstoredReplies(), quint64(0));
    QVERIFY(record(table, nodeReply(), ip(10, 0, 0, 1), 400, true));
    QCOMPARE(table.nodes().size(), 1);
    QCOMPARE(table.nodes().at(0).self, true);
    QCOMPARE(table.nodes().at(0).firstSeenMs, qint64(400));
}

// A full table whose every other node went: the rest keep their records and their order, a
// reply finds its own entry, and new nodes take the room.
void tst_NodeTable::forgettingGoneNodesMakesRoom()
{
    NodeTable table;
    const quint32 first = ip(10, 1, 0, 0);
    // Entered from the top down, so that the table's order is not the order of arrival.
    for (int n = NodeTable::MaxNodes - 1; n >= 0; --n)
        QVERIFY(record(table, nodeReply(), first + quint32(n), 100));
    QVERIFY(!record(table, nodeReply(), ip(10, 0, 0, 1), 100));
    for (int poll = 0; poll <= NodeTable::MissedPollsGone; ++poll) {
        table.pollSent();
        for (int n = 1; n < NodeTable::MaxNodes; n += 2)
            QVERIFY(record(table, nodeReply(), first + quint32(n), 200 + poll));
    }

    table.forgetGone();
    QList<NodeInfo> nodes = table.nodes();
    QCOMPARE(nodes.size(), NodeTable::MaxNodes / 2);
    for (int i = 0; i < nodes.size(); ++i) {
        QCOMPARE(nodes.at(i).sourceAddress, first + quint32(2 * i + 1));
        QCOMPARE(nodes.at(i).firstSeenMs, qint64(100));
    }
    QCOMPARE(table.unstoredReplies(), quint64(0));

    QVERIFY(record(table, nodeReply(), first + 7, 900));
    QVERIFY(record(table, nodeReply(), first + 8, 900)); // gone before, new now
    QVERIFY(record(table, nodeReply(), ip(10, 0, 0, 1), 900));
    nodes = table.nodes();
    QCOMPARE(nodes.size(), NodeTable::MaxNodes / 2 + 2);
    QCOMPARE(nodes.at(0).sourceAddress, ip(10, 0, 0, 1));
    QCOMPARE(nodes.at(4).sourceAddress, first + 7);
    QCOMPARE(nodes.at(4).firstSeenMs, qint64(100));
    QCOMPARE(nodes.at(4).lastSeenMs, qint64(900));
    QCOMPARE(nodes.at(5).sourceAddress, first + 8);
    QCOMPARE(nodes.at(5).firstSeenMs, qint64(900));
}

void tst_NodeTable::namesClampedToTheirFields_data()
{
    QTest::addColumn<QByteArray>("shortName"); // 18 bytes at most
    QTest::addColumn<QByteArray>("longName");  // 64
    QTest::addColumn<QByteArray>("report");    // 64
    QTest::addColumn<QString>("expectedShort");
    QTest::addColumn<QString>("expectedLong");
    QTest::addColumn<QString>("expectedReport");

    const QByteArray full18(18, 'S');
    const QByteArray full64(64, 'L');
    const QByteArray report64(64, 'R');
    QTest::newRow("every field full, no terminating zero")
            << full18 << full64 << report64 << QString::fromLatin1(full18) << QString::fromLatin1(full64)
            << QString::fromLatin1(report64);
    QTest::newRow("a zero ends a name before its field does")
            << QByteArray("Dim\0mer", 7) << QByteArray("Rack\0 B", 7) << QByteArray("#0001\0x", 7)
            << QStringLiteral("Dim") << QStringLiteral("Rack") << QStringLiteral("#0001");
    QTest::newRow("empty names") << QByteArray() << QByteArray() << QByteArray()
                                 << QString() << QString() << QString();
    QTest::newRow("Latin-1 bytes") << QByteArray("B\xfchne") << QByteArray("Sc\xe8ne") << QByteArray("\xa9")
                                   << QStringLiteral("B\u00fchne") << QStringLiteral("Sc\u00e8ne")
                                   << QStringLiteral("\u00a9");
}

void tst_NodeTable::namesClampedToTheirFields()
{
    QFETCH(QByteArray, shortName);
    QFETCH(QByteArray, longName);
    QFETCH(QByteArray, report);
    QFETCH(QString, expectedShort);
    QFETCH(QString, expectedLong);
    QFETCH(QString, expectedReport);

    NodeTable table;
    const QByteArray reply = nodeReply(1, shortName, longName, report);
    QCOMPARE(reply.size(), 240);
    QVERIFY(record(table, reply, NodeAddress, 0));
    // The report is the last name: at 207 bytes what follows it is the port fields.
    QVERIFY(record(table, reply.left(207), ip(10, 0, 0, 78), 0));
    const QList<NodeInfo> nodes = table.nodes();
    QCOMPARE(nodes.size(), 2);
    for (const NodeInfo &node : nodes) {
        QCOMPARE(node.shortName, expectedShort);
        QCOMPARE(node.longName, expectedLong);
        QCOMPARE(node.nodeReport, expectedReport);
    }
}

QTEST_APPLESS_MAIN(tst_NodeTable)
#include "tst_nodetable.moc"
