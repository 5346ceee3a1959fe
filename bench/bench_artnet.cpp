// bench_artnet: what the engine's receive path costs.
//   (a) handleDatagramArrivedAt, what the socket's reader calls, for one 530-byte ArtDmx, in ns
//       per packet, for the receive universe and for another universe; and handleDatagram,
//       which first reads the clock for the time of the call; two consoles on the receive
//       universe with each source's levels kept and the history following a merge, beside
//       today's path;
//   (b) how fast the engine drains ArtDmx from its real socket on port 6454, beside a plain
//       recvmmsg() loop on the same traffic from the same sender:
//       - queued: the socket's queue filled while nobody reads, then emptied in one go;
//       - flood: a sender in the peer namespace sends flat out with sendmmsg() while the
//         receiver reads; the rate is what arrived divided by the time until the end mark.
// Run it only through the private network:
//   tests/netns-run --peer build-perf/bench/bench_artnet [handle-packets] [flood-datagrams]
#include "artnet.h"
#include "benchmarkrun.h"
#include "benchnetwork.h"
#include "floodsender.h"
#include "monotonicclock.h"
#include "plainreceiver.h"
#include "privatenetwork.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The figures; standard output itself goes to /dev/null, since the engine writes its
// diagnostics there.
FILE *g_out = stdout;

constexpr quint16 ReceiveUniverse = 1;
constexpr int FloodUniverses = 1000;

using BenchmarkRun::median;

QByteArray artDmx(quint16 universe)
{
    QByteArray packet(FloodSender::PacketSize, '\0');
    FloodSender::writeArtDmx(reinterpret_cast<uchar *>(packet.data()), universe, 1);
    return packet;
}

// The reader hands datagrams over with their kernel arrival times; here one a microsecond
// after the other, from now on.
struct ArrivalTimes
{
    qint64 firstNs = MonotonicClock::nowNs();
    qint64 at(qint64 datagram) const { return firstNs + datagram * 1000; }
};

double handleCost(artnet &engine, const QByteArray &packet, qint64 count)
{
    const QHostAddress sender(QString::fromLatin1(PrivateNetwork::PeerAddress));
    const ArrivalTimes arrivals;
    for (qint64 i = 0; i < 100000; ++i)
        engine.handleDatagramArrivedAt(packet, sender, arrivals.at(i));
    QElapsedTimer clock;
    clock.start();
    for (qint64 i = 0; i < count; ++i)
        engine.handleDatagramArrivedAt(packet, sender, arrivals.at(100000 + i));
    return double(clock.nsecsElapsed()) / double(count);
}

double handleNowCost(artnet &engine, const QByteArray &packet, qint64 count)
{
    const QHostAddress sender(QString::fromLatin1(PrivateNetwork::PeerAddress));
    QElapsedTimer clock;
    clock.start();
    for (qint64 i = 0; i < count; ++i)
        engine.handleDatagram(packet, sender);
    return double(clock.nsecsElapsed()) / double(count);
}

// One sender's ArtDmx for each of a show's universes, handled in turn: the census's tables
// then see every universe as a show fills them, not one cached entry. Census off and on in
// turn, so that both see the same load on a shared machine.
struct CensusCost
{
    double without = 0;
    double with = 0;
};

CensusCost censusCost(artnet &engine, qint64 count)
{
    std::vector<QByteArray> show;
    for (quint16 universe = 0; universe < FloodUniverses; ++universe)
        show.push_back(artDmx(universe + 100));
    const QHostAddress sender(QString::fromLatin1(PrivateNetwork::PeerAddress));
    const ArrivalTimes arrivals;
    const auto cost = [&] {
        QElapsedTimer clock;
        clock.start();
        for (qint64 i = 0; i < count; ++i)
            engine.handleDatagramArrivedAt(show[size_t(i % FloodUniverses)], sender, arrivals.at(i));
        return double(clock.nsecsElapsed()) / double(count);
    };
    std::vector<double> without, with;
    for (int round = 0; round < 5; ++round) {
        engine.setCensusSuppressed(true);
        without.push_back(cost());
        engine.setCensusSuppressed(false);
        with.push_back(cost());
    }
    return {median(without), median(with)};
}

// Two consoles on the receive universe, their packets in turn, each fading a few channels so
// that LTP sees changes as in a show. The modes: today's path (no per-source levels), the
// levels kept with the latest packet shown, and the history following each merge.
enum class MergeMode { Today, Kept, Htp, Ltp };

double mergeCost(artnet &engine, MergeMode mode, qint64 count)
{
    constexpr int Steps = 16;
    std::vector<QByteArray> packets;
    for (int step = 0; step < Steps; ++step) {
        QByteArray packet = artDmx(ReceiveUniverse);
        for (int channel = 0; channel < 8; ++channel)
            packet[ArtNetPackets::Dmx::Data + channel] = char(step * 8 + channel);
        packets.push_back(packet);
    }
    const QHostAddress consoles[2] = {QHostAddress(QStringLiteral("2.0.0.20")),
                                      QHostAddress(QStringLiteral("2.0.0.21"))};
    engine.setSourceLevelsKept(mode != MergeMode::Today);
    engine.setHistoryChoice(LevelChoice::of(mode == MergeMode::Htp   ? LevelChoice::Kind::MergedHtp
                                            : mode == MergeMode::Ltp ? LevelChoice::Kind::MergedLtp
                                                                     : LevelChoice::Kind::LatestPacket));
    const ArrivalTimes arrivals;
    QElapsedTimer clock;
    clock.start();
    for (qint64 i = 0; i < count; ++i)
        engine.handleDatagramArrivedAt(packets[size_t((i / 2) % Steps)], consoles[i % 2],
                                       arrivals.at(i));
    const double cost = double(clock.nsecsElapsed()) / double(count);
    engine.setSourceLevelsKept(false);
    engine.setHistoryChoice(LevelChoice());
    return cost;
}

void printMergeCost(artnet &engine, qint64 count)
{
    std::vector<double> today, kept, htp, ltp;
    engine.setFrameHistoryKept(true);
    for (int round = 0; round < 5; ++round) {
        today.push_back(mergeCost(engine, MergeMode::Today, count));
        kept.push_back(mergeCost(engine, MergeMode::Kept, count));
        htp.push_back(mergeCost(engine, MergeMode::Htp, count));
        ltp.push_back(mergeCost(engine, MergeMode::Ltp, count));
    }
    engine.setFrameHistoryKept(false);
    std::fprintf(g_out, "  two consoles on the receive universe, frame history kept (medians of 5):\n"
                        "    today %6.1f, per-source levels kept %6.1f (%+.1f), history of the HTP "
                        "merge %6.1f (%+.1f), of the LTP merge %6.1f (%+.1f) ns/packet\n",
                 median(today), median(kept), median(kept) - median(today), median(htp),
                 median(htp) - median(today), median(ltp), median(ltp) - median(today));
}

// Starts reception of the receive universe on a new engine (binds port 6454).
artnet *newReceivingEngine()
{
    artnet *engine = new artnet;
    engine->setReceiveUniverse(ReceiveUniverse);
    uchar levels[512];
    quint16 length = sizeof levels;
    if (!engine->readUniverse(levels, &length)) {
        delete engine;
        return nullptr;
    }
    return engine;
}

bool engineSawMark(artnet &engine)
{
    uchar levels[512];
    quint16 length = sizeof levels;
    return engine.readUniverse(levels, &length) && FloodSender::isMark(levels, length);
}

struct FloodResult
{
    quint64 sent = 0;
    quint64 delivered = 0;     // taken into the socket's queue and read by the receiver
    quint64 bufferDrops = 0;   // RcvbufErrors: the socket's queue was full
    quint64 backlogDrops = 0;  // dropped before reaching UDP (whole machine)
    double seconds = 0;        // from the sender's start until the receiver saw the end mark
    bool complete = false;
    double rate() const { return seconds > 0 ? double(delivered) / seconds : 0; }
};

// Sends the flood from the peer namespace on a thread of its own, then end marks every
// millisecond until the receiver has seen one; receive() runs on this thread meanwhile.
template<typename Receive>
FloodResult flood(int senderFd, quint64 count, Receive receive)
{
    FloodResult result;
    std::atomic<bool> markSeen{false};
    std::atomic<quint64> marksSent{0};
    FloodSender sender(senderFd, PrivateNetwork::LocalAddress, BenchNetwork::ArtNetPort);
    const BenchNetwork::Counters before = BenchNetwork::readCounters();
    QElapsedTimer clock;
    clock.start();
    std::thread sending([&] {
        FloodSender::Plan plan;
        plan.universes = FloodUniverses;
        plan.count = count;
        plan.seconds = 10;
        plan.watchedUniverse = ReceiveUniverse;
        sender.run(plan);
        QElapsedTimer markClock;
        markClock.start();
        while (!markSeen.load() && markClock.elapsed() < 5000) {
            if (sender.sendMark(ReceiveUniverse))
                ++marksSent;
            usleep(1000);
        }
    });
    result.complete = receive();
    result.seconds = double(clock.nsecsElapsed()) / 1e9;
    markSeen = true;
    sending.join();
    const BenchNetwork::Counters after = BenchNetwork::readCounters();
    result.sent = sender.sent();
    const quint64 arrived = after.inDatagrams - before.inDatagrams;
    result.delivered = arrived > marksSent ? arrived - marksSent : 0;
    result.bufferDrops = after.receiveBufferErrors - before.receiveBufferErrors;
    result.backlogDrops = after.backlogDrops - before.backlogDrops;
    return result;
}

void printFlood(const char *who, const FloodResult &result)
{
    std::fprintf(g_out, "  %-22s sent %8llu  delivered %8llu  buffer drops %7llu  backlog drops %6llu"
                "  %6.3f s  %9.0f datagrams/s%s\n",
                who, static_cast<unsigned long long>(result.sent),
                static_cast<unsigned long long>(result.delivered),
                static_cast<unsigned long long>(result.bufferDrops),
                static_cast<unsigned long long>(result.backlogDrops), result.seconds,
                result.rate(), result.complete ? "" : "  (end mark not seen)");
}

// Fills the socket's queue from the peer. The veth delivers in the sender's own system call, so
// a short pause after the last send is enough for all of them to be queued here. Returns the
// number that did not fit.
quint64 fillQueue(int senderFd, quint64 count)
{
    const BenchNetwork::Counters before = BenchNetwork::readCounters();
    FloodSender sender(senderFd, PrivateNetwork::LocalAddress, BenchNetwork::ArtNetPort);
    FloodSender::Plan plan;
    plan.universes = FloodUniverses;
    plan.count = count;
    plan.seconds = 5;
    sender.run(plan);
    usleep(20000);
    return BenchNetwork::readCounters().receiveBufferErrors - before.receiveBufferErrors;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (const int refused = BenchmarkRun::begin("bench_artnet", &g_out))
        return refused;
    const qint64 handlePackets = argc > 1 ? QByteArray(argv[1]).toLongLong() : 5000000;
    const quint64 floodDatagrams = argc > 2 ? QByteArray(argv[2]).toULongLong() : 300000;
    const int rounds = 3;

    QString error;
    const int senderFd = PrivateNetwork::peerSenderSocket(QString(), 0, &error);
    if (senderFd < 0) {
        std::fprintf(stderr, "bench_artnet: %s\n", qPrintable(error));
        return 1;
    }

    std::fprintf(g_out, "(a) handleDatagramArrivedAt, one 530-byte ArtDmx, %lld calls each\n",
                static_cast<long long>(handlePackets));
    {
        artnet *engine = newReceivingEngine();
        if (!engine) {
            std::fprintf(stderr, "bench_artnet: port %d cannot be bound\n", BenchNetwork::ArtNetPort);
            return 1;
        }
        std::fprintf(g_out, "  receive universe:  %6.1f ns/packet\n",
                    handleCost(*engine, artDmx(ReceiveUniverse), handlePackets));
        std::fprintf(g_out, "  another universe:  %6.1f ns/packet\n",
                    handleCost(*engine, artDmx(ReceiveUniverse + 1), handlePackets));
        std::fprintf(g_out, "  handleDatagram, reading the clock, receive / another universe: "
                            "%6.1f / %6.1f ns/packet\n",
                     handleNowCost(*engine, artDmx(ReceiveUniverse), handlePackets),
                     handleNowCost(*engine, artDmx(ReceiveUniverse + 1), handlePackets));
        // The frame history (what the window's channel activity reads), off and on in turn so
        // that both see the same load on a shared machine; the ring (4 MiB) does not fit in
        // the cache, as in use.
        std::vector<double> without, with, otherWith;
        for (int round = 0; round < 5; ++round) {
            engine->setFrameHistoryKept(false);
            without.push_back(handleCost(*engine, artDmx(ReceiveUniverse), handlePackets));
            engine->setFrameHistoryKept(true);
            with.push_back(handleCost(*engine, artDmx(ReceiveUniverse), handlePackets));
            otherWith.push_back(handleCost(*engine, artDmx(ReceiveUniverse + 1), handlePackets));
        }
        engine->setFrameHistoryKept(false);
        printMergeCost(*engine, handlePackets / 5);
        const CensusCost census = censusCost(*engine, handlePackets);
        std::fprintf(g_out, "  show of %d universes, census off / counting (medians of 5): %6.1f / "
                            "%6.1f ns/packet, %+.1f ns\n",
                     FloodUniverses, census.without, census.with, census.with - census.without);
        std::fprintf(g_out, "  receive universe, frame history off / kept (medians of 5): %6.1f / "
                            "%6.1f ns/packet, %+.1f ns\n",
                     median(without), median(with), median(with) - median(without));
        std::fprintf(g_out, "  another universe, frame history kept: %6.1f ns/packet\n",
                     median(otherWith));
        engine->stopReceiving();
        std::fprintf(g_out, "  reception off:     %6.1f ns/packet\n",
                    handleCost(*engine, artDmx(ReceiveUniverse), handlePackets));
        delete engine;
    }

    // (b1) queued: the kernel's copy is the same for both; what differs is the per-datagram
    // work in user space and the number of system calls.
    const quint64 queued = 3000;
    const int fills = 30;
    std::fprintf(g_out, "\n(b1) draining a full queue: %llu ArtDmx queued, %d times (ns per datagram)\n",
                static_cast<unsigned long long>(queued), fills);
    std::vector<double> engineQueued;
    std::vector<double> plainQueued;
    for (int round = 0; round < rounds; ++round) {
        {
            artnet *engine = newReceivingEngine();
            if (!engine)
                return 1;
            QCoreApplication::processEvents(); // whatever arrived before
            engine->readArtnetPackage();
            for (int fill = 0; fill < fills; ++fill) {
                const quint64 dropped = fillQueue(senderFd, queued);
                QElapsedTimer clock;
                clock.start();
                engine->readArtnetPackage();
                const qint64 ns = clock.nsecsElapsed();
                if (dropped)
                    std::fprintf(g_out, "  engine: %llu did not fit into the queue\n",
                                static_cast<unsigned long long>(dropped));
                else
                    engineQueued.push_back(double(ns) / double(queued));
            }
            delete engine;
        }
        {
            const int fd = BenchNetwork::boundSocket(BenchNetwork::ArtNetPort, 4 * 1024 * 1024, &error);
            if (fd < 0) {
                std::fprintf(stderr, "bench_artnet: %s\n", qPrintable(error));
                return 1;
            }
            PlainReceiver plain(fd);
            for (int fill = 0; fill < fills; ++fill) {
                const quint64 dropped = fillQueue(senderFd, queued);
                QElapsedTimer clock;
                clock.start();
                const quint64 drained = plain.drainQueued();
                const qint64 ns = clock.nsecsElapsed();
                if (dropped || drained != queued)
                    std::fprintf(g_out, "  recvmmsg: %llu did not fit into the queue, %llu drained\n",
                                static_cast<unsigned long long>(dropped),
                                static_cast<unsigned long long>(drained));
                else
                    plainQueued.push_back(double(ns) / double(drained));
            }
            ::close(fd);
        }
    }
    const double engineNs = median(engineQueued);
    const double plainNs = median(plainQueued);
    std::fprintf(g_out, "  engine (readArtnetPackage): %7.0f ns/datagram = %9.0f datagrams/s\n", engineNs,
                1e9 / engineNs);
    std::fprintf(g_out, "  plain recvmmsg loop:        %7.0f ns/datagram = %9.0f datagrams/s\n", plainNs,
                1e9 / plainNs);
    std::fprintf(g_out, "  engine rate / recvmmsg rate: %.2f\n", plainNs / engineNs);

    std::fprintf(g_out, "\n(b2) flood: %llu ArtDmx over %d universes, sent flat out from the peer with "
                "sendmmsg(), %d rounds\n",
                static_cast<unsigned long long>(floodDatagrams), FloodUniverses, rounds);
    std::vector<double> engineRates;
    std::vector<double> plainRates;
    for (int round = 0; round < rounds; ++round) {
        {
            artnet *engine = newReceivingEngine();
            if (!engine)
                return 1;
            QCoreApplication::processEvents();
            const FloodResult result = flood(senderFd, floodDatagrams, [&] {
                QEventLoop loop;
                QTimer poll;
                QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                    if (engineSawMark(*engine))
                        loop.exit(1);
                });
                poll.start(1);
                QTimer::singleShot(20000, &loop, [&] { loop.exit(0); });
                return loop.exec() == 1;
            });
            printFlood("engine", result);
            engineRates.push_back(result.rate());
            delete engine;
        }
        {
            const int fd = BenchNetwork::boundSocket(BenchNetwork::ArtNetPort, 4 * 1024 * 1024, &error);
            if (fd < 0) {
                std::fprintf(stderr, "bench_artnet: %s\n", qPrintable(error));
                return 1;
            }
            PlainReceiver plain(fd);
            const FloodResult result = flood(senderFd, floodDatagrams, [&] {
                bool sawMark = false;
                plain.receiveUntilMark(ReceiveUniverse, 20, &sawMark);
                return sawMark;
            });
            printFlood("plain recvmmsg loop", result);
            plainRates.push_back(result.rate());
            ::close(fd);
        }
    }
    const double engineRate = median(engineRates);
    const double plainRate = median(plainRates);
    std::fprintf(g_out, "  median: engine %.0f datagrams/s, recvmmsg %.0f datagrams/s, ratio %.2f\n",
                engineRate, plainRate, plainRate > 0 ? engineRate / plainRate : 0.0);
    ::close(senderFd);
    return 0;
}
