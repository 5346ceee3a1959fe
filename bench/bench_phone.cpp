// bench_phone: the phone view under a large show's traffic, beside the program without it and a
// plain receiver in the same run. A sender process in the peer namespace sends 512-channel ArtDmx
// round robin over 1000 universes at 44 frames per second each (44,000 ArtDmx/s). Receivers, one after the other, each for the given seconds: a plain
// recvmmsg() loop, the capture session listening (the census fed, as with the network view
// open), and the same session serving the phone view to 8 pages, each following a universe.
// The pages run in a child process (this program again, with --pages), so that the CPU share
// measured (user + system time of this process, getrusage) is the program's alone. Each page
// follows a universe of its own beyond the flood's, to which the child sends a frame every
// 23 ms (44 frames/s, 352 ArtDmx/s for the 8) whose levels name it, so that every page gets 10
// changes a second and the time from a frame's sending to a page's receiving its levels is the
// push latency (median and 99th percentile over all pages). Also reported:
// the datagrams the kernel dropped (RcvbufErrors of this namespace) and the interval between
// two level messages at a page (median and worst).
// With --flood, instead of the pages: the session serving the phone view on the test network
// under the same traffic, once alone and once while two processes of the peer flood its listening
// socket (connections opened and dropped, and malformed requests, as fast as they go), each row
// with the event loop's worst lateness (a 20 ms timer) and the census's total rate.
// Run it only through the private network:
//   tests/netns-run --peer build-perf/bench/bench_phone [--flood] [seconds per row, 2 to 8, default 6]
#include "benchmarkrun.h"
#include "benchnetwork.h"
#include "capturesession.h"
#include "floodprocess.h"
#include "phoneflood.h"
#include "phoneserver.h"
#include "plainreceiverthread.h"
#include "privatenetwork.h"
#include "sessionphonefeed.h"
#include "testpackets.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <QUdpSocket>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using namespace FloodProcess;
using BenchmarkRun::median;

constexpr int Universes = 1000;
constexpr double FramesPerSecond = 44;
constexpr int Pages = 8;
constexpr quint16 ProbePortAddress = 2000; // the first page's, shown as Art-Net 2001, beyond the flood
constexpr int ProbeIntervalMs = 23;         // 44 frames/s to each page's universe

FILE *g_out = stdout;

struct Row
{
    const char *receiver;
    double cpuShare = 0;
    quint64 sent = 0;
    quint64 drops = 0;
};

Row measure(const char *receiver, SenderProcess &sender, double seconds, bool eventLoop)
{
    Row row{receiver};
    const BenchNetwork::Counters before = BenchNetwork::readCounters();
    const double cpuBefore = BenchNetwork::processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    const Report report = sender.send(Universes * FramesPerSecond, seconds, false, eventLoop,
                                      Universes, 1);
    row.cpuShare = (BenchNetwork::processCpuSeconds() - cpuBefore) / (wall.nsecsElapsed() / 1e9);
    row.sent = report.sent;
    row.drops = BenchNetwork::readCounters().receiveBufferErrors - before.receiveBufferErrors;
    return row;
}

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(share * double(values.size())))];
}

// The child: 8 pages on the server, and the probe; prints one line of figures.
int runPages(quint16 port, const QByteArray &token, double seconds)
{
    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<QWebSocket>> pages;
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/live?t=%2").arg(port).arg(QString::fromLatin1(token)));
    std::vector<qint64> lastLevelsMs(Pages, -1);
    std::vector<double> intervals;
    std::vector<double> latencies;
    std::vector<qint64> probeSentMs(256, -1);
    int levelMessages = 0;
    for (int index = 0; index < Pages; ++index) {
        pages.push_back(std::make_unique<QWebSocket>());
        QWebSocket *page = pages.back().get();
        const int shown = ProbePortAddress + 1 + index;
        // One after the other: the pages stand for 8 phones, not 8 connections of one address
        // at once, which the server bounds.
        QObject::connect(page, &QWebSocket::connected, page, [&, page, shown, index] {
            page->sendTextMessage(QStringLiteral(R"({"t":"follow","p":"artnet","u":%1})").arg(shown));
            if (index + 1 < Pages)
                pages[size_t(index) + 1]->open(url);
        });
        QObject::connect(page, &QWebSocket::textMessageReceived, page, [&, index](const QString &text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message[QStringLiteral("t")].toString() != QStringLiteral("levels"))
                return;
            const qint64 nowMs = clock.elapsed();
            ++levelMessages;
            if (lastLevelsMs[index] >= 0)
                intervals.push_back(double(nowMs - lastLevelsMs[index]));
            lastLevelsMs[index] = nowMs;
            int value = message[QStringLiteral("full")].toArray().at(0).toInt(-1);
            for (const QJsonValue &change : message[QStringLiteral("ch")].toArray()) {
                if (change.toArray().at(0).toInt() == 0)
                    value = change.toArray().at(1).toInt();
            }
            if (value >= 0 && probeSentMs[value] >= 0)
                latencies.push_back(double(nowMs - probeSentMs[value]));
        });
    }
    pages.front()->open(url);
    QUdpSocket probe;
    int probes = 0;
    QTimer probeTimer;
    QObject::connect(&probeTimer, &QTimer::timeout, &probe, [&] {
        const int value = 1 + probes++ % 250;
        probeSentMs[value] = clock.elapsed();
        for (int index = 0; index < Pages; ++index) {
            probe.writeDatagram(TestPackets::artDmx(quint16(ProbePortAddress + index),
                                                    QByteArray(512, char(value))),
                                QHostAddress(QString::fromLatin1(PrivateNetwork::LocalAddress)),
                                BenchNetwork::ArtNetPort);
        }
    });
    probeTimer.start(ProbeIntervalMs);
    QTimer::singleShot(int(seconds * 1000), qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    std::fprintf(g_out, "%.2f %.1f %.1f %.1f %.1f %zu\n",
                 levelMessages / seconds / Pages, median(latencies), percentile(latencies, 0.99),
                 median(intervals), intervals.empty() ? 0 : *std::max_element(intervals.begin(), intervals.end()),
                 latencies.size());
    return 0;
}

struct FloodRow
{
    Row row;
    qint64 worstLatenessMs = 0;
    double censusHz = 0;
    QByteArray opened;
};

// One row of --flood: the show's traffic for the seconds, with or without the phone floods.
FloodRow measureFlood(const char *receiver, SenderProcess &sender, double seconds,
                      const CaptureSession &session, quint16 port, bool flood)
{
    FloodRow figures;
    QElapsedTimer clock;
    clock.start();
    qint64 lastTickMs = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
        figures.worstLatenessMs = std::max(figures.worstLatenessMs, clock.elapsed() - lastTickMs - 20);
        lastTickMs = clock.elapsed();
    });
    tick.start(20);
    QProcess connections, malformed;
    if (flood) {
        const int floodSeconds = int(seconds);
        connections.start(QStringLiteral("nsenter"),
                          PhoneFlood::command(QCoreApplication::applicationFilePath(),
                                              PhoneFlood::Kind::Connections, port, 20000, floodSeconds));
        malformed.start(QStringLiteral("nsenter"),
                        PhoneFlood::command(QCoreApplication::applicationFilePath(),
                                            PhoneFlood::Kind::MalformedHttp, port, 20000, floodSeconds));
    }
    figures.row = measure(receiver, sender, seconds, true);
    tick.stop();
    for (QProcess *process : {&connections, &malformed}) {
        if (!flood)
            break;
        if (process->state() != QProcess::NotRunning)
            process->waitForFinished(int(seconds * 1000) + 5000);
        figures.opened += process->readAllStandardOutput().trimmed().mid(7) + ' ';
    }
    for (const UniverseTraffic &universe : session.census().universes)
        figures.censusHz += universe.rateHz;
    return figures;
}

int runFloodRows(SenderProcess &sender, double seconds, const Row &plain)
{
    CaptureSession session;
    session.start(CaptureSession::Identity());
    session.startListening();
    SessionPhoneFeed feed(&session, nullptr);
    PhoneServer server(&feed);
    if (!server.start(QHostAddress(QString::fromLatin1(PrivateNetwork::LocalAddress)), 0)) {
        std::fprintf(stderr, "bench_phone: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    std::vector<FloodRow> rows;
    rows.push_back(measureFlood("session + phone view", sender, seconds, session, server.port(), false));
    rows.push_back(measureFlood("the same, flooded", sender, seconds, session, server.port(), true));
    std::fprintf(g_out, "%d universes of 512 channels at %g frames/s each; %g s per row; flood: "
                 "connections opened and dropped, and malformed requests, by two peer processes\n\n",
                 Universes, FramesPerSecond, seconds);
    std::fprintf(g_out, "| Receiver | Sent | CPU | Dropped | Event loop worst late | Census rate | "
                 "Flood connections opened (dropped, malformed) |\n|---|---|---|---|---|---|---|\n");
    std::fprintf(g_out, "| %s | %llu | %.3f core | %llu | | | |\n", plain.receiver,
                 static_cast<unsigned long long>(plain.sent), plain.cpuShare,
                 static_cast<unsigned long long>(plain.drops));
    for (const FloodRow &flood : rows)
        std::fprintf(g_out, "| %s | %llu | %.3f core | %llu | %lld ms | %.0f frames/s | %s|\n",
                     flood.row.receiver, static_cast<unsigned long long>(flood.row.sent),
                     flood.row.cpuShare, static_cast<unsigned long long>(flood.row.drops),
                     static_cast<long long>(flood.worstLatenessMs), flood.censusHz,
                     flood.opened.constData());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const int flood = PhoneFlood::runIfAsked(argc, argv);
    if (flood >= 0)
        return flood;
    if (const int refused = BenchmarkRun::begin("bench_phone", &g_out))
        return refused;
    const bool floodRows = argc > 1 && QByteArray(argv[1]) == "--flood";
    if (floodRows) {
        --argc;
        ++argv;
    }
    if (argc == 5 && QByteArray(argv[1]) == "--pages") {
        QCoreApplication application(argc, argv);
        return runPages(quint16(QByteArray(argv[2]).toUInt()), argv[3], QByteArray(argv[4]).toDouble());
    }
    const double seconds = argc > 1 ? qBound(2.0, QByteArray(argv[1]).toDouble(), 8.0) : 6;
    SenderProcess sender;
    if (!sender.start(0)) {
        std::perror("bench_phone: fork");
        return 1;
    }
    pinToCpu(0);
    QCoreApplication application(argc, argv);
    std::vector<Row> rows;
    {
        const PlainReceiverThread plain;
        if (!plain.isRunning()) {
            std::fprintf(stderr, "bench_phone: %s\n", qPrintable(plain.errorString()));
            return 1;
        }
        rows.push_back(measure("recvmmsg", sender, seconds, false));
    }
    if (floodRows)
        return runFloodRows(sender, seconds, rows.front());
    CaptureSession session;
    session.start(CaptureSession::Identity());
    session.startListening();
    rows.push_back(measure("session listening", sender, seconds, true));

    SessionPhoneFeed feed(&session, nullptr);
    PhoneServer server(&feed);
    if (!server.start(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "bench_phone: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    QProcess pages;
    pages.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--pages"), QString::number(server.port()),
                 QString::fromLatin1(server.token()), QString::number(seconds + 1)});
    QElapsedTimer waited;
    waited.start();
    while (server.clientCount() < Pages && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (server.clientCount() < Pages) {
        std::fprintf(stderr, "bench_phone: only %d pages connected\n", server.clientCount());
        return 1;
    }
    rows.push_back(measure("+ phone view, 8 pages", sender, seconds, true));
    while (pages.state() != QProcess::NotRunning && waited.elapsed() < (seconds + 10) * 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const QList<QByteArray> figures = pages.readAllStandardOutput().trimmed().split(' ');

    std::fprintf(g_out, "%d universes of 512 channels at %g frames/s each; %g s per row\n\n",
                 Universes, FramesPerSecond, seconds);
    std::fprintf(g_out, "| Receiver | Sent | CPU | Dropped |\n|---|---|---|---|\n");
    for (const Row &row : rows)
        std::fprintf(g_out, "| %s | %llu | %.3f core | %llu |\n", row.receiver,
                     static_cast<unsigned long long>(row.sent), row.cpuShare,
                     static_cast<unsigned long long>(row.drops));
    if (figures.size() == 6) {
        std::fprintf(g_out, "\nPages: %s level messages/s each; push latency, frame sent to its levels at the page, median "
                     "%s ms, p99 %s ms (%s frames); interval between level messages median %s ms, "
                     "worst %s ms\n", figures[0].constData(), figures[1].constData(),
                     figures[2].constData(), figures[5].constData(), figures[3].constData(),
                     figures[4].constData());
    } else {
        std::fprintf(stderr, "bench_phone: the pages reported nothing\n");
        return 1;
    }
    return 0;
}
