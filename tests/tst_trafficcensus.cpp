// The traffic census on its own, without a socket: ArtDmx bytes, the sender and the time go in,
// and what the network view shows comes out (sources, live and conflict, rate, Sequence errors,
// the bounds against a hostile network, malformed packets per sender, ArtSync), and sACN frames
// beside them, whose sources are lost sooner.
#include "artnet.h"
#include "testpackets.h"
#include "trafficcensus.h"

#include <QTest>

namespace {

// Sender addresses as host-order IPv4 values.
constexpr quint32 ip(quint8 a, quint8 b, quint8 c, quint8 d)
{
    return quint32(a) << 24 | quint32(b) << 16 | quint32(c) << 8 | d;
}

constexpr quint32 ConsoleA = ip(2, 0, 0, 1);
constexpr quint32 ConsoleB = ip(2, 0, 0, 2);

// An ArtDmx of levels 0x7F whose Length field says length, carrying dataBytes of them (all when
// negative).
QByteArray artDmx(quint16 portAddress, quint8 sequence = 0, quint8 physical = 0,
                  quint16 length = 2, int dataBytes = -1)
{
    const QByteArray data(dataBytes < 0 ? length : dataBytes, char(0x7F));
    return TestPackets::artDmxClaiming(portAddress, length, data, sequence, physical);
}

void feed(TrafficCensus &census, const QByteArray &datagram, quint32 sender, qint64 nowMs)
{
    census.recordDmx(reinterpret_cast<const uchar *>(datagram.constData()),
                     int(datagram.size()), sender, nowMs);
}

UniverseTraffic trafficOf(const TrafficCensus &census, UniverseKey key, qint64 nowMs)
{
    const QList<UniverseTraffic> universes = census.universes(nowMs);
    for (const UniverseTraffic &universe : universes) {
        if (universe.protocol == key.protocol && universe.portAddress == key.number)
            return universe;
    }
    return UniverseTraffic();
}

UniverseTraffic trafficOf(const TrafficCensus &census, quint16 portAddress, qint64 nowMs)
{
    return trafficOf(census, UniverseKey{DmxProtocol::ArtNet, portAddress}, nowMs);
}

} // namespace

// One ArtDmx as a row describes it, or the sACN frame in its place.
struct Packet
{
    quint32 sender;
    quint8 physical;
    quint16 portAddress;
    qint64 atMs;
    DmxProtocol protocol = DmxProtocol::ArtNet;

    // sACN numbers its universes from 1: port-address 0's place is sACN universe 1.
    static UniverseKey keyOf(DmxProtocol protocol, quint16 portAddress)
    {
        return {protocol, quint16(protocol == DmxProtocol::Sacn ? portAddress + 1 : portAddress)};
    }
    UniverseKey key() const { return keyOf(protocol, portAddress); }
};
Q_DECLARE_METATYPE(QList<Packet>)

namespace {

// An sACN source is its CID, made here of the sender's address and the Physical byte; the
// census takes sACN as decoded frames, since it reads no sACN datagram itself.
void feed(TrafficCensus &census, const Packet &packet, quint8 sequence = 0)
{
    if (packet.protocol == DmxProtocol::ArtNet) {
        feed(census, artDmx(packet.portAddress, sequence, packet.physical), packet.sender,
             packet.atMs);
        return;
    }
    static const uchar levels[2] = {0x7F, 0x7F};
    DmxFrame frame;
    frame.universe = packet.key();
    frame.universeKnown = true;
    frame.source.protocol = DmxProtocol::Sacn;
    frame.source.address = packet.sender;
    frame.source.cid = {quint8(packet.sender >> 24), quint8(packet.sender >> 16),
                        quint8(packet.sender >> 8), quint8(packet.sender), packet.physical};
    frame.sequence = sequence;
    frame.priority = 100;
    frame.levels = levels;
    frame.count = frame.lengthField = sizeof levels;
    census.recordFrame(frame, packet.atMs);
}

constexpr DmxProtocol Sacn = DmxProtocol::Sacn;

} // namespace

class tst_TrafficCensus : public QObject
{
    Q_OBJECT

private slots:
    void sources_data();
    void sources();
    void sourceFields();
    void rate_data();
    void rate();
    void sequence_data();
    void sequence();
    void bounds_data();
    void bounds();
    void malformed_data();
    void malformed();
    void malformedAgreesWithReceiver_data();
    void malformedAgreesWithReceiver();
    void artSync_data();
    void artSync();
    void clearForgetsEverything();
    void forgetSilent_data();
    void forgetSilent();
    void forgettingAFloodMakesRoom();
};

void tst_TrafficCensus::sources_data()
{
    QTest::addColumn<QList<Packet>>("packets");
    QTest::addColumn<qint64>("readAtMs");
    QTest::addColumn<int>("universes");
    QTest::addColumn<int>("sources");      // of port-address 0
    QTest::addColumn<int>("liveSources");
    QTest::addColumn<bool>("conflict");

    QTest::newRow("one universe from two addresses is a conflict")
            << QList<Packet>{{ConsoleA, 0, 0, 0}, {ConsoleB, 0, 0, 10}, {ConsoleA, 0, 0, 20}}
            << qint64(100) << 1 << 2 << 2 << true;
    QTest::newRow("one address with two Physical bytes is two sources")
            << QList<Packet>{{ConsoleA, 0, 0, 0}, {ConsoleA, 1, 0, 10}}
            << qint64(100) << 1 << 2 << 2 << true;
    QTest::newRow("one address and Physical byte is one source")
            << QList<Packet>{{ConsoleA, 3, 0, 0}, {ConsoleA, 3, 0, 10}, {ConsoleA, 3, 0, 20}}
            << qint64(100) << 1 << 1 << 1 << false;
    QTest::newRow("two addresses on two universes are no conflict")
            << QList<Packet>{{ConsoleA, 0, 0, 0}, {ConsoleB, 0, 1, 10}}
            << qint64(100) << 2 << 1 << 1 << false;
    QTest::newRow("live 1 ms before the 4 s keep-alive limit")
            << QList<Packet>{{ConsoleA, 0, 0, 1000}} << qint64(4999) << 1 << 1 << 1 << false;
    QTest::newRow("not live at the 4 s keep-alive limit")
            << QList<Packet>{{ConsoleA, 0, 0, 1000}} << qint64(5000) << 1 << 1 << 0 << false;
    QTest::newRow("a console gone quiet and its replacement are no conflict")
            << QList<Packet>{{ConsoleA, 0, 0, 0}, {ConsoleB, 0, 0, 3000}}
            << qint64(4500) << 1 << 2 << 1 << false;
    QTest::newRow("a second console still within 4 s is a conflict")
            << QList<Packet>{{ConsoleA, 0, 0, 1000}, {ConsoleB, 0, 0, 3000}}
            << qint64(4500) << 1 << 2 << 2 << true;
    QTest::newRow("a packet handled after a later one keeps the later time")
            << QList<Packet>{{ConsoleA, 0, 0, 3000}, {ConsoleA, 0, 0, 1000}}
            << qint64(6000) << 1 << 1 << 1 << false;
    QTest::newRow("sACN: live 1 ms before it is lost at 2.5 s")
            << QList<Packet>{{ConsoleA, 0, 0, 1000, Sacn}} << qint64(3499) << 1 << 1 << 1 << false;
    QTest::newRow("sACN: lost at 2.5 s")
            << QList<Packet>{{ConsoleA, 0, 0, 1000, Sacn}} << qint64(3500) << 1 << 1 << 0 << false;
    QTest::newRow("sACN: a source lost at 2.5 s and its replacement are no conflict")
            << QList<Packet>{{ConsoleA, 0, 0, 1000, Sacn}, {ConsoleB, 0, 0, 3000, Sacn}}
            << qint64(3600) << 1 << 2 << 1 << false;
}

void tst_TrafficCensus::sources()
{
    QFETCH(QList<Packet>, packets);
    QFETCH(qint64, readAtMs);
    QFETCH(int, universes);
    QFETCH(int, sources);
    QFETCH(int, liveSources);
    QFETCH(bool, conflict);

    TrafficCensus census;
    for (const Packet &packet : packets)
        feed(census, packet);

    QCOMPARE(census.universes(readAtMs).size(), universes);
    const UniverseKey read = Packet::keyOf(packets.first().protocol, 0);
    const UniverseTraffic traffic = trafficOf(census, read, readAtMs);
    QCOMPARE(traffic.sources, sources);
    QCOMPARE(traffic.liveSources, liveSources);
    QCOMPARE(traffic.conflict(), conflict);
    const QList<DmxSource> list = census.sources(read, readAtMs);
    QCOMPARE(list.size(), sources);
    int live = 0;
    for (const DmxSource &source : list)
        live += source.live ? 1 : 0;
    QCOMPARE(live, liveSources);
    QCOMPARE(census.unstoredSources(), quint64(0));
}

void tst_TrafficCensus::sourceFields()
{
    TrafficCensus census;
    feed(census, artDmx(0x123, 0, 7, 512), ConsoleB, 500);
    feed(census, artDmx(0x123, 0, 7, 24), ConsoleB, 900);
    feed(census, artDmx(0x123, 0, 0, 2), ConsoleA, 1000);

    const QList<UniverseTraffic> universes = census.universes(1000);
    QCOMPARE(universes.size(), 1);
    QCOMPARE(universes.at(0).portAddress, quint16(0x123));
    QCOMPARE(universes.at(0).lastSeenMs, qint64(1000));
    // In order of first arrival, not of address.
    const QList<DmxSource> list = census.sources(0x123, 1000);
    QCOMPARE(list.size(), 2);
    const DmxSource &first = list.at(0);
    QCOMPARE(first.address, ConsoleB);
    QCOMPARE(first.physical, quint8(7));
    QCOMPARE(first.firstSeenMs, qint64(500));
    QCOMPARE(first.lastSeenMs, qint64(900));
    QCOMPARE(first.packets, quint64(2));
    QCOMPARE(first.lastLength, quint16(24));
    QCOMPARE(list.at(1).address, ConsoleA);
    QCOMPARE(list.at(1).packets, quint64(1));
    QVERIFY(census.sources(0x122, 1000).isEmpty());
}

void tst_TrafficCensus::rate_data()
{
    QTest::addColumn<double>("hz");             // sending rate
    QTest::addColumn<qint64>("forMs");
    QTest::addColumn<qint64>("readAfterLastMs");
    QTest::addColumn<int>("consoles");          // each sends at hz, from its own address
    QTest::addColumn<double>("minHz");          // per console
    QTest::addColumn<double>("maxHz");
    QTest::addColumn<qint64>("startMs");        // on the census clock

    // The last second is read in 100 ms steps: it ends up to 100 ms before the reading.
    QTest::newRow("steady 44 Hz") << 44.0 << qint64(3000) << qint64(0) << 1 << 43.0 << 45.0 << qint64(123457);
    QTest::newRow("steady 44 Hz read 50 ms after the last") << 44.0 << qint64(3000) << qint64(50) << 1 << 43.0 << 45.0 << qint64(123457);
    QTest::newRow("steady 10 Hz") << 10.0 << qint64(5000) << qint64(0) << 1 << 9.0 << 11.0 << qint64(123457);
    QTest::newRow("keep-alive 1 Hz") << 1.0 << qint64(10000) << qint64(0) << 1 << 1.0 << 1.0 << qint64(123457);
    QTest::newRow("two consoles at 44 Hz") << 44.0 << qint64(3000) << qint64(0) << 2 << 43.0 << 45.0 << qint64(123457);
    QTest::newRow("stopped half a second ago") << 44.0 << qint64(3000) << qint64(500) << 1 << 21.0 << 27.0 << qint64(123457);
    QTest::newRow("stopped over a second ago") << 44.0 << qint64(3000) << qint64(1100) << 1 << 0.0 << 0.0 << qint64(123457);
    QTest::newRow("stopped a minute ago") << 44.0 << qint64(3000) << qint64(60000) << 1 << 0.0 << 0.0 << qint64(123457);
    QTest::newRow("for half a second so far") << 44.0 << qint64(500) << qint64(0) << 1 << 17.0 << 23.0 << qint64(123457);
    // The clock starts with the engine: nothing came before its time 0.
    QTest::newRow("in the first second of the census clock") << 44.0 << qint64(500) << qint64(0) << 1 << 17.0 << 23.0 << qint64(0);
    QTest::newRow("from time 0 on") << 44.0 << qint64(3000) << qint64(0) << 1 << 43.0 << 45.0 << qint64(0);
}

void tst_TrafficCensus::rate()
{
    QFETCH(double, hz);
    QFETCH(qint64, forMs);
    QFETCH(qint64, readAfterLastMs);
    QFETCH(int, consoles);
    QFETCH(double, minHz);
    QFETCH(double, maxHz);
    QFETCH(qint64, startMs);

    TrafficCensus census;
    const qint64 start = startMs;
    qint64 last = start;
    for (int k = 0; k * 1000.0 / hz <= double(forMs); ++k) {
        last = start + qint64(k * 1000.0 / hz);
        for (int console = 0; console < consoles; ++console)
            feed(census, artDmx(0, quint8(k % 255 + 1)), ConsoleA + quint32(console), last);
    }
    const qint64 now = last + readAfterLastMs;
    const QList<DmxSource> list = census.sources(0, now);
    QCOMPARE(list.size(), consoles);
    for (const DmxSource &source : list) {
        QVERIFY2(source.rateHz >= minHz && source.rateHz <= maxHz,
                 qPrintable(QStringLiteral("%1 Hz").arg(source.rateHz)));
        QCOMPARE(source.sequenceGaps + source.sequenceOutOfOrder, quint32(0));
    }
    // A universe's rate is the sum over its live sources.
    const UniverseTraffic traffic = trafficOf(census, 0, now);
    double sum = 0;
    for (const DmxSource &source : list)
        sum += source.live ? source.rateHz : 0.0;
    QCOMPARE(traffic.rateHz, sum);
    if (readAfterLastMs >= TrafficCensus::ArtNetLiveMs)
        QCOMPARE(traffic.rateHz, 0.0);
}

void tst_TrafficCensus::sequence_data()
{
    QTest::addColumn<QList<int>>("sequences");  // Sequence bytes of one source, 25 ms apart
    QTest::addColumn<int>("silenceBeforeLast"); // ms added before the last packet
    QTest::addColumn<int>("gaps");
    QTest::addColumn<int>("outOfOrder");
    QTest::addColumn<bool>("sacn");

    QTest::newRow("in order") << QList<int>{1, 2, 3, 4, 5} << 0 << 0 << 0 << false;
    QTest::newRow("255 wraps to 1") << QList<int>{253, 254, 255, 1, 2} << 0 << 0 << 0 << false;
    QTest::newRow("0 means not used and is never an error") << QList<int>{0, 0, 0, 0} << 0 << 0 << 0 << false;
    QTest::newRow("0 in between resets the expectation") << QList<int>{5, 6, 0, 20, 21} << 0 << 0 << 0 << false;
    QTest::newRow("0 after 255 is no error either") << QList<int>{254, 255, 0, 7} << 0 << 0 << 0 << false;
    QTest::newRow("gap") << QList<int>{1, 2, 5, 6} << 0 << 1 << 0 << false;
    QTest::newRow("gap across the wrap") << QList<int>{253, 254, 2, 3} << 0 << 1 << 0 << false;
    QTest::newRow("255 to 1 skips 0: no gap, 255 to 2 is one") << QList<int>{255, 2} << 0 << 1 << 0 << false;
    QTest::newRow("two gaps") << QList<int>{1, 3, 5} << 0 << 2 << 0 << false;
    QTest::newRow("out of order: behind, the expectation stays")
            << QList<int>{1, 2, 4, 3, 5} << 0 << 1 << 1 << false;
    QTest::newRow("behind across the wrap") << QList<int>{254, 255, 1, 255, 2} << 0 << 0 << 1 << false;
    QTest::newRow("repeat") << QList<int>{1, 2, 2, 3} << 0 << 0 << 1 << false;
    QTest::newRow("20 behind is out of order") << QList<int>{30, 10, 31} << 0 << 0 << 1 << false;
    QTest::newRow("21 behind is a jump: one gap, then in order") << QList<int>{31, 10, 11} << 0 << 1 << 0 << false;
    QTest::newRow("127 ahead is a gap") << QList<int>{10, 137} << 0 << 1 << 0 << false;
    QTest::newRow("a jump after 4 s of silence is no error") << QList<int>{1, 2, 3, 100} << 4000 << 0 << 0 << false;
    QTest::newRow("the same jump within 4 s is a gap") << QList<int>{1, 2, 3, 100} << 3900 << 1 << 0 << false;
    QTest::newRow("a restart at 1 after 4 s of silence is no error") << QList<int>{50, 51, 52, 1} << 4000 << 0 << 0 << false;
    QTest::newRow("a restart within 4 s is one gap, not one error a packet")
            << QList<int>{50, 51, 52, 1, 2, 3} << 0 << 1 << 0 << false;
    QTest::newRow("sACN: a jump after 2.5 s of silence is no error") << QList<int>{1, 2, 3, 100} << 2500 << 0 << 0 << true;
    QTest::newRow("sACN: the same jump within 2.5 s is a gap") << QList<int>{1, 2, 3, 100} << 2400 << 1 << 0 << true;
}

void tst_TrafficCensus::sequence()
{
    QFETCH(QList<int>, sequences);
    QFETCH(int, silenceBeforeLast);
    QFETCH(int, gaps);
    QFETCH(int, outOfOrder);
    QFETCH(bool, sacn);

    TrafficCensus census;
    const DmxProtocol protocol = sacn ? DmxProtocol::Sacn : DmxProtocol::ArtNet;
    qint64 now = 1000;
    for (int k = 0; k < sequences.size(); ++k) {
        now += 25;
        if (k == sequences.size() - 1)
            now += silenceBeforeLast;
        feed(census, Packet{ConsoleA, 0, 7, now, protocol}, quint8(sequences.at(k)));
    }
    const UniverseKey key = Packet::keyOf(protocol, 7);
    const QList<DmxSource> list = census.sources(key, now);
    QCOMPARE(list.size(), 1);
    QCOMPARE(list.at(0).sequenceGaps, quint32(gaps));
    QCOMPARE(list.at(0).sequenceOutOfOrder, quint32(outOfOrder));
    QCOMPARE(list.at(0).packets, quint64(sequences.size())); // out of order ones count too
    QCOMPARE(trafficOf(census, key, now).sequenceErrors, quint32(gaps + outOfOrder));
}

void tst_TrafficCensus::bounds_data()
{
    QTest::addColumn<int>("universes");         // port-addresses 0 .. universes-1 ...
    QTest::addColumn<int>("sourcesEach");       // ... each sent by this many addresses
    QTest::addColumn<quint16>("extraUniverse"); // then new sources on this one
    QTest::addColumn<int>("extraSources");
    QTest::addColumn<int>("extraSends");        // packets from each of them
    QTest::addColumn<int>("stored");            // in all
    QTest::addColumn<int>("listed");            // universes in the list
    QTest::addColumn<quint32>("more");          // of the extra universe
    QTest::addColumn<quint64>("unstored");
    QTest::addColumn<quint64>("unlisted");      // universes beyond the bound

    const int perUniverse = TrafficCensus::MaxSourcesPerUniverse;
    QTest::newRow("64 sources on one universe are stored")
            << 1 << perUniverse << quint16(0) << 0 << 0 << 64 << 1 << quint32(0) << quint64(0)
            << quint64(0);
    QTest::newRow("source 65 on one universe is counted as more, not stored")
            << 1 << perUniverse << quint16(0) << 1 << 1 << 64 << 1 << quint32(1) << quint64(1)
            << quint64(0);
    QTest::newRow("the same unstored source sent twice is counted once")
            << 1 << perUniverse << quint16(0) << 1 << 5 << 64 << 1 << quint32(1) << quint64(1)
            << quint64(0);
    QTest::newRow("sources 65 and 66 on one universe")
            << 1 << perUniverse << quint16(0) << 2 << 2 << 64 << 1 << quint32(2) << quint64(2)
            << quint64(0);
    QTest::newRow("a full universe leaves room on the next")
            << 1 << perUniverse << quint16(1) << 3 << 1 << 67 << 2 << quint32(0) << quint64(0)
            << quint64(0);
    QTest::newRow("4096 sources in all are stored")
            << 64 << perUniverse << quint16(0) << 0 << 0 << 4096 << 64 << quint32(0) << quint64(0)
            << quint64(0);
    // "(+n)" is a universe's own senders beyond its 64; a full table is the note's business.
    QTest::newRow("source 4097 in all is counted in all, not as more on its universe")
            << 64 << perUniverse << quint16(64) << 1 << 1 << 4096 << 65 << quint32(0) << quint64(1)
            << quint64(0);
    QTest::newRow("source 4097 sent twice is counted once")
            << 64 << perUniverse << quint16(64) << 1 << 3 << 4096 << 65 << quint32(0) << quint64(1)
            << quint64(0);
    QTest::newRow("sources 4097 and 4098 in all")
            << 64 << perUniverse << quint16(64) << 2 << 1 << 4096 << 65 << quint32(0) << quint64(2)
            << quint64(0);
    // 4096 universes of one source each fill both tables: universe 4097 is not listed at all.
    QTest::newRow("universe 4097 is not listed, its source and itself are counted")
            << 4096 << 1 << quint16(4096) << 1 << 2 << 4096 << 4096 << quint32(0) << quint64(1)
            << quint64(1);
    QTest::newRow("universe 4097 from two sources is counted once")
            << 4096 << 1 << quint16(4096) << 2 << 2 << 4096 << 4096 << quint32(0) << quint64(2)
            << quint64(1);
}

void tst_TrafficCensus::bounds()
{
    QFETCH(int, universes);
    QFETCH(int, sourcesEach);
    QFETCH(quint16, extraUniverse);
    QFETCH(int, extraSources);
    QFETCH(int, extraSends);
    QFETCH(int, stored);
    QFETCH(int, listed);
    QFETCH(quint32, more);
    QFETCH(quint64, unstored);
    QFETCH(quint64, unlisted);

    TrafficCensus census;
    const quint32 firstAddress = ip(10, 0, 0, 1);
    for (int u = 0; u < universes; ++u) {
        for (int s = 0; s < sourcesEach; ++s)
            feed(census, artDmx(quint16(u)), firstAddress + quint32(s), 1000);
    }
    const quint32 extraAddress = ip(10, 1, 0, 1);
    for (int send = 0; send < extraSends; ++send) {
        for (int s = 0; s < extraSources; ++s)
            feed(census, artDmx(extraUniverse), extraAddress + quint32(s), 1001 + send);
    }
    // A stored source still counts whatever was refused.
    feed(census, artDmx(0), firstAddress, 2000);

    const QList<UniverseTraffic> list = census.universes(2000);
    QCOMPARE(list.size(), listed);
    int storedInAll = 0;
    for (const UniverseTraffic &universe : list) {
        QVERIFY(universe.sources <= TrafficCensus::MaxSourcesPerUniverse);
        storedInAll += universe.sources;
    }
    QCOMPARE(storedInAll, stored);
    QCOMPARE(trafficOf(census, extraUniverse, 2000).moreSources, more);
    QCOMPARE(census.unstoredSources(), unstored);
    QCOMPARE(census.unlistedUniverses(), unlisted);
    const QList<DmxSource> first = census.sources(0, 2000);
    QVERIFY(!first.isEmpty());
    QCOMPARE(first.at(0).address, firstAddress);
    QCOMPARE(first.at(0).packets, quint64(2));
    for (const DmxSource &source : first)
        QVERIFY2(source.address < extraAddress, "an unstored source took a place");
}

void tst_TrafficCensus::malformed_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("malformed");

    QTest::newRow("13 bytes: cut inside the header") << artDmx(0).left(13) << true;
    QTest::newRow("17 bytes: no low Length byte") << artDmx(0, 0, 0, 0).left(17) << true;
    QTest::newRow("Length 512 with 511 data bytes") << artDmx(0, 1, 0, 512, 511) << true;
    QTest::newRow("Length 24 with 10 data bytes") << artDmx(0, 1, 0, 24, 10) << true;
    QTest::newRow("Length 0xFFFF with 512 data bytes") << artDmx(0, 1, 0, 0xFFFF, 512) << true;
    QTest::newRow("18 bytes with Length 0 are whole") << artDmx(0, 1, 0, 0) << false;
    QTest::newRow("Length 2 with more data bytes is whole") << artDmx(0, 1, 0, 2, 40) << false;
    QTest::newRow("Length 600 with its data is whole") << artDmx(0, 1, 0, 600) << false;
}

void tst_TrafficCensus::malformed()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, malformed);

    TrafficCensus census;
    feed(census, datagram, ConsoleA, 1000);
    feed(census, datagram, ConsoleA, 1010);
    const quint64 count = malformed ? 2 : 0;
    QCOMPARE(census.malformedDmx(), count);
    QCOMPARE(census.malformedFrom(ConsoleA), count);
    QCOMPARE(census.malformedFrom(ConsoleB), quint64(0));
    QCOMPARE(census.universes(1010).size(), malformed ? 0 : 1);

    // The sender's sources show what it sent malformed, on any universe; others' do not.
    feed(census, artDmx(5), ConsoleA, 1020);
    feed(census, artDmx(5), ConsoleB, 1020);
    const QList<DmxSource> list = census.sources(5, 1020);
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(0).malformed, count);
    QCOMPARE(list.at(1).malformed, quint64(0));
    QCOMPARE(census.unstoredSources(), quint64(0));
}

void tst_TrafficCensus::malformedAgreesWithReceiver_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("length"); // the Length field, where the datagram has it

    const QList<QPair<int, int>> cases = {
        {13, 0}, {14, 0}, {17, 0}, {18, 0}, {18, 1}, {19, 1}, {19, 2}, {20, 2}, {20, 3},
        {529, 512}, {530, 512}, {531, 512}, {600, 512}, {530, 513}, {612, 600}, {611, 600},
        {530, 0xFFFF}, {18 + 0xFFFF, 0xFFFF}, {18 + 0xFFFE, 0xFFFF}, {2048, 2030}, {2047, 2030}};
    for (const auto &[size, length] : cases)
        QTest::addRow("%d bytes, Length %d", size, length) << size << length;
}

void tst_TrafficCensus::malformedAgreesWithReceiver()
{
    QFETCH(int, size);
    QFETCH(int, length);

    const QByteArray datagram = artDmx(0, 0, 0, quint16(length), size - 18).left(size);
    QCOMPARE(datagram.size(), size);
    QCOMPARE(TrafficCensus::isMalformedArtDmx(size, size >= 18 ? quint16(length) : 0),
             !artnet::isWholeArtDmx(datagram));
    TrafficCensus census;
    feed(census, datagram, ConsoleA, 0);
    QCOMPARE(census.malformedDmx(), quint64(artnet::isWholeArtDmx(datagram) ? 0 : 1));
}

void tst_TrafficCensus::artSync_data()
{
    QTest::addColumn<quint32>("syncSender"); // 0: none
    QTest::addColumn<qint64>("syncAtMs");    // ArtDmx arrive at 1000 and 1100
    QTest::addColumn<qint64>("readAtMs");
    QTest::addColumn<bool>("sendsSync");     // console A's source
    QTest::addColumn<bool>("sacn");          // its sources send sACN (and the sync is sACN's)

    QTest::newRow("no ArtSync") << quint32(0) << qint64(0) << qint64(1200) << false << false;
    QTest::newRow("ArtSync from the same address marks it") << ConsoleA << qint64(1050) << qint64(1200) << true << false;
    QTest::newRow("ArtSync before its first ArtDmx") << ConsoleA << qint64(500) << qint64(1200) << true << false;
    QTest::newRow("ArtSync from another address does not") << ConsoleB << qint64(1050) << qint64(1200) << false << false;
    QTest::newRow("an ArtSync 4 s old no longer counts") << ConsoleA << qint64(1050) << qint64(5050) << false << false;
    QTest::newRow("sACN: a sync 2.4 s old counts") << ConsoleA << qint64(1050) << qint64(3450) << true << true;
    QTest::newRow("sACN: a sync 2.5 s old no longer counts") << ConsoleA << qint64(1050) << qint64(3550) << false << true;
}

void tst_TrafficCensus::artSync()
{
    QFETCH(quint32, syncSender);
    QFETCH(qint64, syncAtMs);
    QFETCH(qint64, readAtMs);
    QFETCH(bool, sendsSync);
    QFETCH(bool, sacn);

    TrafficCensus census;
    const DmxProtocol protocol = sacn ? DmxProtocol::Sacn : DmxProtocol::ArtNet;
    if (syncSender != 0 && syncAtMs < 1000)
        census.recordSync(syncSender, syncAtMs);
    feed(census, Packet{ConsoleA, 0, 0, 1000, protocol});
    feed(census, Packet{ConsoleA, 1, 0, 1000, protocol});
    if (syncSender != 0 && syncAtMs >= 1000)
        census.recordSync(syncSender, syncAtMs);
    feed(census, Packet{ConsoleA, 0, 0, 1100, protocol});

    const QList<DmxSource> list = census.sources(Packet::keyOf(protocol, 0), readAtMs);
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(0).sendsSync, sendsSync);
    QCOMPARE(list.at(1).sendsSync, sendsSync); // the sender, whatever its Physical byte
    QCOMPARE(census.malformedDmx(), quint64(0));
}

void tst_TrafficCensus::clearForgetsEverything()
{
    TrafficCensus census;
    const int perUniverse = TrafficCensus::MaxSourcesPerUniverse;
    for (int s = 0; s <= perUniverse; ++s)
        feed(census, artDmx(0, 1), ip(10, 0, 0, 1) + quint32(s), 1000);
    feed(census, artDmx(0).left(15), ConsoleA, 1000);
    census.recordSync(ConsoleA, 1000);
    QCOMPARE(census.unstoredSources(), quint64(1));

    census.clear();
    QVERIFY(census.universes(1000).isEmpty());
    QVERIFY(census.sources(0, 1000).isEmpty());
    QCOMPARE(census.unstoredSources(), quint64(0));
    QCOMPARE(census.malformedDmx(), quint64(0));
    QCOMPARE(census.malformedFrom(ConsoleA), quint64(0));

    // Counted afresh: the same 65 sources give the same picture again.
    for (int s = 0; s <= perUniverse; ++s)
        feed(census, artDmx(0, 1), ip(10, 0, 0, 1) + quint32(s), 2000);
    feed(census, artDmx(3, 1), ConsoleA, 2000);
    QCOMPARE(census.unstoredSources(), quint64(1));
    QCOMPARE(trafficOf(census, 0, 2000).sources, perUniverse);
    const QList<DmxSource> list = census.sources(3, 2000);
    QCOMPARE(list.size(), 1);
    QCOMPARE(list.at(0).sendsSync, false);
    QCOMPARE(list.at(0).packets, quint64(1));
}

void tst_TrafficCensus::forgetSilent_data()
{
    QTest::addColumn<QList<Packet>>("packets");
    QTest::addColumn<qint64>("forgetAtMs");
    QTest::addColumn<QList<int>>("universesLeft"); // port-addresses
    QTest::addColumn<QList<quint32>>("sendersLeft"); // of port-address 0, in order of arrival

    QTest::newRow("nothing silent: everything stays")
            << QList<Packet>{{ConsoleA, 0, 0, 1000}, {ConsoleB, 0, 1, 1500}} << qint64(2000)
            << QList<int>{0, 1} << QList<quint32>{ConsoleA};
    QTest::newRow("a universe silent for 4 s goes")
            << QList<Packet>{{ConsoleA, 0, 0, 1000}, {ConsoleB, 0, 1, 1000}, {ConsoleB, 0, 1, 4000}}
            << qint64(5000) << QList<int>{1} << QList<quint32>{};
    QTest::newRow("a silent sender goes, its live neighbour keeps the universe")
            << QList<Packet>{{ConsoleA, 0, 0, 1000}, {ConsoleB, 0, 0, 1000}, {ConsoleB, 0, 0, 4500}}
            << qint64(5000) << QList<int>{0} << QList<quint32>{ConsoleB};
    QTest::newRow("the live sender after silent ones keeps its place in the list")
            << QList<Packet>{{ConsoleB, 0, 2, 1000}, {ConsoleA, 0, 0, 1000}, {ConsoleB, 0, 0, 1000},
                             {ConsoleA, 0, 0, 4500}, {ConsoleB, 0, 3, 4600}}
            << qint64(5000) << QList<int>{0, 3} << QList<quint32>{ConsoleA};
    QTest::newRow("sACN: a source lost at 2.5 s goes, an Art-Net one as old stays")
            << QList<Packet>{{ConsoleA, 0, 0, 1000}, {ConsoleB, 0, 0, 1000, Sacn}} << qint64(3500)
            << QList<int>{0} << QList<quint32>{ConsoleA};
    QTest::newRow("sACN: a source heard 1 ms less than 2.5 s ago stays")
            << QList<Packet>{{ConsoleA, 0, 0, 1000}, {ConsoleB, 0, 0, 1000, Sacn}} << qint64(3499)
            << QList<int>{0, 1} << QList<quint32>{ConsoleA};
    QTest::newRow("everything silent: nothing stays")
            << QList<Packet>{{ConsoleA, 0, 0, 1000}, {ConsoleB, 0, 7, 1000}} << qint64(9000)
            << QList<int>{} << QList<quint32>{};
}

void tst_TrafficCensus::forgetSilent()
{
    QFETCH(QList<Packet>, packets);
    QFETCH(qint64, forgetAtMs);
    QFETCH(QList<int>, universesLeft);
    QFETCH(QList<quint32>, sendersLeft);

    TrafficCensus census;
    for (const Packet &packet : packets)
        feed(census, packet);
    census.forgetSilent(forgetAtMs);

    QList<int> universes;
    for (const UniverseTraffic &universe : census.universes(forgetAtMs))
        universes << universe.portAddress;
    QCOMPARE(universes, universesLeft);
    QList<quint32> senders;
    for (const DmxSource &source : census.sources(0, forgetAtMs))
        senders << source.address;
    QCOMPARE(senders, sendersLeft);
    QCOMPARE(trafficOf(census, 0, forgetAtMs).sources, int(sendersLeft.size()));

    // The kept records go on counting where they were: one more packet of each is its next.
    for (Packet packet : packets) {
        packet.atMs = forgetAtMs;
        feed(census, packet);
    }
    for (const DmxSource &source : census.sources(0, forgetAtMs)) {
        const bool kept = sendersLeft.contains(source.address);
        QVERIFY2(source.packets > 1 || !kept, "a kept source started afresh");
    }
}

// 23,162 universes of one packet each, as a flood leaves them: 4096 listed, the rest counted.
// Forgetting leaves the console that goes on sending, and room for what comes next.
void tst_TrafficCensus::forgettingAFloodMakesRoom()
{
    TrafficCensus census;
    const quint32 flooder = ip(10, 9, 9, 9);
    feed(census, artDmx(7), ConsoleA, 1000);
    for (int u = 0; u < 23162; ++u)
        feed(census, artDmx(quint16(100 + u), 0, quint8(u % 3)), flooder, 1000);
    feed(census, artDmx(7), ConsoleA, 5500);
    QCOMPARE(census.universes(5500).size(), TrafficCensus::MaxUniverses);
    QCOMPARE(census.unlistedUniverses(), quint64(23163 - TrafficCensus::MaxUniverses));
    QVERIFY(census.unstoredSources() > 0);
    for (const UniverseTraffic &universe : census.universes(5500))
        QVERIFY2(universe.moreSources == 0, "a full table counted as a universe's own senders");

    census.forgetSilent(6000);
    const QList<UniverseTraffic> left = census.universes(6000);
    QCOMPARE(left.size(), 1);
    QCOMPARE(left.at(0).portAddress, quint16(7));
    QCOMPARE(census.unlistedUniverses(), quint64(0));
    QCOMPARE(census.unstoredSources(), quint64(0));

    // A new universe is listed again, and the flood could fill the tables once more.
    feed(census, artDmx(40000), ConsoleB, 6001);
    QCOMPARE(census.sources(40000, 6001).size(), 1);
    for (int u = 0; u < 5000; ++u)
        feed(census, artDmx(quint16(100 + u)), flooder, 7000);
    QCOMPARE(census.universes(7000).size(), TrafficCensus::MaxUniverses);
    QCOMPARE(census.unlistedUniverses(), quint64(5000 + 2 - TrafficCensus::MaxUniverses));
}

QTEST_APPLESS_MAIN(tst_TrafficCensus)
#include "tst_trafficcensus.moc"
