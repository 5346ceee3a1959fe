// bench_sacn: the sACN receiver under a large show's multicast, beside a plain receiver in the
// same run, and beside the Art-Net engine.
//   (a) What one datagram costs in the handler, in ns: SacnReceiver::handleDatagram over
//       prepared 638-byte sACN data packets of universes 1-1000 in turn (all watched, 500 on
//       show, its frame history kept), beside artnet::handleDatagramArrivedAt over 530-byte
//       ArtDmx of the same universes (receiving universe 500 with its frame history, so the
//       census counts). Each also for universe 500 alone. Medians of 5 rounds, taken in turn.
//   (b) Floods from a sender process in the peer namespace on CPU 1, 1000 universes of 512
//       levels at 44 frames/s, paced datagram by datagram:
//         - sACN, each universe to its own multicast group (44,000/s): a plain recvmmsg() loop
//           on port 5568 with the 1000 groups joined, then the SacnReceiver watching 1-1000
//           with universe 500 on show and its frame history kept;
//         - Art-Net and sACN at once (44,000/s each): two plain loops, one per port, on
//           threads of their own; then the Art-Net engine recording universe 500 and the
//           SacnReceiver as above, both on this process's main thread as the program runs
//           them, with the window's 200 ms read of the levels of both.
//       Reported: the CPU share of this process (user + system time of all its threads over
//       wall time), its wake-ups (voluntary context switches), the datagrams the kernel dropped
//       for want of room in a socket's queue (RcvbufErrors of this namespace), and the
//       datagrams the SacnReceiver read.
// The receiver runs on CPU 0. Run it only through the private network:
//   tests/netns-run --peer build-perf/bench/bench_sacn [seconds per flood, default 10]
//                                                      [handler calls per round, default 1000000]
//                                                      [--handler-only]
// --handler-only measures (a) alone, so that it can run under callgrind for instruction counts,
// which the machine's load does not change:
//   tests/netns-run --peer valgrind --tool=callgrind build-perf/bench/bench_sacn 1 100000
//       --handler-only   (then callgrind_annotate --inclusive=yes)
#include "artnet.h"
#include "benchmarkrun.h"
#include "benchnetwork.h"
#include "floodprocess.h"
#include "floodsender.h"
#include "monotonicclock.h"
#include "multicastmemberships.h"
#include "plainreceiverthread.h"
#include "privatenetwork.h"
#include "sacnpackets.h"
#include "sacnreceiver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace FloodProcess;
using BenchmarkRun::median;

FILE *g_out = stdout;

constexpr int Universes = 1000;
constexpr double FramesPerSecond = 44;
constexpr quint16 UniverseOnShow = 500;

QList<quint16> watchList()
{
    QList<quint16> universes;
    for (int universe = 1; universe <= Universes; ++universe)
        universes.append(quint16(universe));
    return universes;
}

// ---------------------------------------------------------------------------------------------
// (a) The handler

struct Prepared
{
    std::vector<QByteArray> sacn;
    std::vector<QByteArray> artDmx;
};

Prepared prepare(int firstUniverse, int universes)
{
    Prepared prepared;
    for (int u = 0; u < universes; ++u) {
        const quint16 universe = quint16(firstUniverse + u);
        QByteArray sacn(FloodSender::SacnPacketSize, '\0');
        FloodSender::writeSacn(reinterpret_cast<uchar *>(sacn.data()), universe, 0);
        prepared.sacn.push_back(sacn);
        QByteArray artDmx(FloodSender::PacketSize, '\0');
        FloodSender::writeArtDmx(reinterpret_cast<uchar *>(artDmx.data()), universe, 0);
        prepared.artDmx.push_back(artDmx);
    }
    return prepared;
}

// One call per datagram, a microsecond apart on the clock the census and the history keep; each
// round of universes numbered one up, so that none is passed over as out of order.
double sacnCost(SacnReceiver &receiver, std::vector<QByteArray> &packets, qint64 calls,
                qint64 *clockNs)
{
    const QHostAddress sender(QString::fromLatin1(PrivateNetwork::PeerAddress));
    const size_t count = packets.size();
    QElapsedTimer clock;
    clock.start();
    for (qint64 i = 0; i < calls; ++i) {
        QByteArray &packet = packets[size_t(i) % count];
        if (size_t(i) % count == 0) {
            for (QByteArray &each : packets)
                ++each.data()[SacnPackets::DataFraming::Sequence];
        }
        receiver.handleDatagram(packet, sender, *clockNs += 1000);
    }
    return double(clock.nsecsElapsed()) / double(calls);
}

double artNetCost(artnet &engine, const std::vector<QByteArray> &packets, qint64 calls,
                  qint64 *clockNs)
{
    const QHostAddress sender(QString::fromLatin1(PrivateNetwork::PeerAddress));
    QElapsedTimer clock;
    clock.start();
    for (qint64 i = 0; i < calls; ++i)
        engine.handleDatagramArrivedAt(packets[size_t(i) % packets.size()], sender,
                                       *clockNs += 1000);
    return double(clock.nsecsElapsed()) / double(calls);
}

void printHandlerCosts(qint64 calls)
{
    SacnReceiver receiver;
    receiver.setWatchList(watchList());
    receiver.setUniverseOnShow(UniverseOnShow);
    receiver.setFrameHistoryKept(true);
    artnet engine;
    engine.setReceiveUniverse(UniverseOnShow);
    engine.setFrameHistoryKept(true);
    engine.startReceiving();
    qint64 clockNs = MonotonicClock::nowNs();
    std::fprintf(g_out, "(a) One datagram in the handler, ns (median of 5 rounds of %lld calls, "
                        "taken in turn; min-max)\n\n| Datagrams | SacnReceiver::handleDatagram "
                        "| artnet::handleDatagramArrivedAt |\n|---|---|---|\n",
                 static_cast<long long>(calls));
    for (const bool show : {false, true}) {
        Prepared prepared = show ? prepare(UniverseOnShow, 1) : prepare(1, Universes);
        std::vector<double> sacn, artNet;
        for (int round = 0; round < 5; ++round) {
            sacn.push_back(sacnCost(receiver, prepared.sacn, calls, &clockNs));
            artNet.push_back(artNetCost(engine, prepared.artDmx, calls, &clockNs));
        }
        const auto range = [](const std::vector<double> &values) {
            return std::make_pair(*std::min_element(values.begin(), values.end()),
                                  *std::max_element(values.begin(), values.end()));
        };
        std::fprintf(g_out, "| %s | %.1f (%.1f-%.1f) | %.1f (%.1f-%.1f) |\n",
                     show ? "universe 500 alone (on show, merged, history)"
                          : "universes 1-1000 in turn",
                     median(sacn), range(sacn).first, range(sacn).second, median(artNet),
                     range(artNet).first, range(artNet).second);
    }
    std::fprintf(g_out, "\n");
}

// ---------------------------------------------------------------------------------------------
// (b) Floods

struct Row : ReceiverFigures
{
    quint64 read = 0; // by the SacnReceiver; 0 for the plain loops
};

// The interface the peer's multicast arrives on (art0).
MulticastMemberships::Interface testInterface()
{
    const quint32 local = QHostAddress(QString::fromLatin1(PrivateNetwork::LocalAddress))
                                  .toIPv4Address();
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        for (const QNetworkAddressEntry &entry : interface.addressEntries())
            if (entry.ip().toIPv4Address() == local)
                return {interface.index(), local};
    }
    return {};
}

Row measure(SenderProcess &sender, Traffic traffic, double seconds, bool eventLoop,
            const SacnReceiver *sacn)
{
    Row row;
    const BenchNetwork::Counters before = BenchNetwork::readCounters();
    const double cpuBefore = BenchNetwork::processCpuSeconds();
    const quint64 wakeUpsBefore = BenchNetwork::processWakeUps();
    const quint64 readBefore = sacn ? sacn->datagramsRead() : 0;
    QElapsedTimer wall;
    wall.start();
    row.report = sender.send(Universes * FramesPerSecond, seconds, false, eventLoop, Universes, 1,
                             traffic);
    const double wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    row.cpuShare = (BenchNetwork::processCpuSeconds() - cpuBefore) / wallSeconds;
    row.wakeUpsPerSecond = double(BenchNetwork::processWakeUps() - wakeUpsBefore) / wallSeconds;
    QElapsedTimer drain; // what is still queued is read, or counted as dropped
    drain.start();
    while (drain.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    row.drops = BenchNetwork::readCounters().receiveBufferErrors - before.receiveBufferErrors;
    row.read = sacn ? sacn->datagramsRead() - readBefore : 0;
    return row;
}

void printRow(const Row &row)
{
    std::fprintf(g_out, "| %-30s | %-24s | %7.0f/s | %5.3f core | %6.0f/s | %7llu |",
                 row.receiver, row.flood,
                 double(row.report.sent) / qMax(0.001, row.report.seconds), row.cpuShare,
                 row.wakeUpsPerSecond, static_cast<unsigned long long>(row.drops));
    if (row.read)
        std::fprintf(g_out, " %llu |\n", static_cast<unsigned long long>(row.read));
    else
        std::fprintf(g_out, " - |\n");
}

bool runPlainRows(SenderProcess &sender, double seconds, std::vector<Row> *rows)
{
    MulticastMemberships groups;
    groups.setInterfaces({testInterface()});
    for (int universe = 1; universe <= Universes; ++universe)
        groups.join(0xEFFF0000u | quint32(universe));
    {
        const PlainReceiverThread plain(SacnPackets::Port);
        if (!plain.isRunning()) {
            std::fprintf(stderr, "bench_sacn: %s\n", qPrintable(plain.errorString()));
            return false;
        }
        rows->push_back(measure(sender, Traffic::Sacn, seconds, false, nullptr));
        rows->back().receiver = "recvmmsg, 1000 groups joined";
        rows->back().flood = "sACN 44,000/s";
    }
    const PlainReceiverThread plainArtNet(BenchNetwork::ArtNetPort);
    const PlainReceiverThread plainSacn(SacnPackets::Port);
    if (!plainArtNet.isRunning() || !plainSacn.isRunning()) {
        std::fprintf(stderr, "bench_sacn: %s%s\n", qPrintable(plainArtNet.errorString()),
                     qPrintable(plainSacn.errorString()));
        return false;
    }
    rows->push_back(measure(sender, Traffic::ArtNetAndSacn, seconds, false, nullptr));
    rows->back().receiver = "two recvmmsg, one per port";
    rows->back().flood = "Art-Net + sACN 88,000/s";
    return true;
}

bool runProgramRows(SenderProcess &sender, double seconds, std::vector<Row> *rows)
{
    SacnReceiver receiver;
    if (!receiver.open()) {
        std::fprintf(stderr, "bench_sacn: port 5568 is taken\n");
        return false;
    }
    receiver.setUniverseOnShow(UniverseOnShow);
    receiver.setWatchList(watchList());
    receiver.setFrameHistoryKept(true);
    uchar levels[512];
    QTimer tick; // the window's record tick reads the levels of the universe on show
    QObject::connect(&tick, &QTimer::timeout, [&] {
        quint16 length = sizeof levels;
        receiver.readUniverse(levels, &length);
    });
    tick.start(200);
    rows->push_back(measure(sender, Traffic::Sacn, seconds, true, &receiver));
    rows->back().receiver = "SacnReceiver, 1-1000 watched";
    rows->back().flood = "sACN 44,000/s";

    artnet engine;
    if (!engine.openSocket()) {
        std::fprintf(stderr, "bench_sacn: port 6454 is taken\n");
        return false;
    }
    engine.setReceiveUniverse(UniverseOnShow);
    engine.setFrameHistoryKept(true);
    engine.startReceiving();
    QObject::connect(&tick, &QTimer::timeout, [&] {
        quint16 length = sizeof levels;
        engine.readUniverse(levels, &length);
    });
    rows->push_back(measure(sender, Traffic::ArtNetAndSacn, seconds, true, &receiver));
    rows->back().receiver = "artnet + SacnReceiver, 1 thread";
    rows->back().flood = "Art-Net + sACN 88,000/s";
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (const int refused = BenchmarkRun::begin("bench_sacn", &g_out))
        return refused;
    const double seconds = argc > 1 ? qBound(1.0, QByteArray(argv[1]).toDouble(), 60.0) : 10;
    const qint64 calls = argc > 2 ? qBound(1000ll, QByteArray(argv[2]).toLongLong(), 20000000ll)
                                  : 1000000;
    if (argc > 3 && QByteArray(argv[3]) == "--handler-only") {
        printHandlerCosts(calls);
        return 0;
    }

    SenderProcess sender;
    if (!sender.start(UniverseOnShow)) {
        std::perror("bench_sacn: fork");
        return 1;
    }
    pinToCpu(0);
    printHandlerCosts(calls);

    std::vector<Row> rows;
    const bool done = runPlainRows(sender, seconds, &rows) && runProgramRows(sender, seconds, &rows);
    sender.stop();

    std::fprintf(g_out, "(b) %d universes of 512 levels at %g frames/s, %g s per flood, paced "
                        "datagram by datagram; universe %d on show\n\n",
                 Universes, FramesPerSecond, seconds, UniverseOnShow);
    std::fprintf(g_out, "| Receiver | Flood | Sent | CPU | Wake-ups | Dropped | Read by the "
                        "SacnReceiver |\n|---|---|---|---|---|---|---|\n");
    for (const Row &row : rows)
        printRow(row);
    std::fprintf(g_out, "\nCPU: user + system time of all this process's threads over wall time "
                        "(the kernel's delivery across the veth pair is charged to the sender); "
                        "wake-ups: their voluntary context switches.\nThe machine is shared: "
                        "repeat and take medians.\n");
    return done ? 0 : 1;
}
