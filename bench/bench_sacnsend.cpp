// bench_sacnsend: what the sACN sender's repeat costs, beside a plain sendto() loop of the same
// 638-byte packet to the same group in the same run.
//   (a) the repeat path as the program runs it (the sender's timer, here at 0 ms instead of
//       500 ms, through the event loop), in ns per packet, and the plain loop's ns per packet;
//   (b) heap allocations while repeating (malloc, calloc and realloc counted in this process),
//       the event loop's own included, per packet;
//   (c) send(), which reads the interface list each time, in µs (median).
// The packets go to 239.255.0.1 out of art0 and are dropped in the peer namespace, where nobody
// joined the group. Each run is bounded: at most `packets` packets and 5 s.
// Run it only through the private network:
//   tests/netns-run --peer build-perf/bench/bench_sacnsend [packets, default 50000]
#include "benchmarkrun.h"
#include "sacnsender.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

std::atomic<bool> g_counting{false};
std::atomic<quint64> g_allocations{0};

void counted()
{
    if (g_counting.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

// glibc's own allocator under every allocation of the process, counted on the way.
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);

void *malloc(size_t size)
{
    counted();
    return __libc_malloc(size);
}

void *calloc(size_t count, size_t size)
{
    counted();
    return __libc_calloc(count, size);
}

void *realloc(void *pointer, size_t size)
{
    counted();
    return __libc_realloc(pointer, size);
}
}

namespace {

FILE *g_out = stdout;
constexpr qint64 TimeLimitMs = 5000;

struct Run
{
    quint64 packets = 0;
    double nsPerPacket = 0;
    quint64 allocations = 0;
};

Run senderRepeats(SacnSender &sender, quint64 packets)
{
    QTimer *repeat = sender.findChild<QTimer *>();
    repeat->setInterval(0);
    const quint64 first = sender.packetsSent();
    g_allocations = 0;
    g_counting = true;
    QElapsedTimer clock;
    clock.start();
    while (sender.packetsSent() - first < packets && clock.elapsed() < TimeLimitMs)
        QCoreApplication::processEvents();
    const qint64 ns = clock.nsecsElapsed();
    g_counting = false;
    repeat->setInterval(SacnSender::RepeatMs);
    Run run;
    run.packets = sender.packetsSent() - first;
    run.nsPerPacket = double(ns) / double(run.packets);
    run.allocations = g_allocations;
    return run;
}

Run plainLoop(const std::vector<uchar> &packet, quint64 packets)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in group = {};
    group.sin_family = AF_INET;
    group.sin_port = htons(5568);
    group.sin_addr.s_addr = htonl(0xEFFF0001u);
    ip_mreqn leaving = {};
    leaving.imr_address.s_addr = htonl(0x0200000Au); // art0's 2.0.0.10
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &leaving, sizeof leaving);
    g_allocations = 0;
    g_counting = true;
    QElapsedTimer clock;
    clock.start();
    Run run;
    while (run.packets < packets && clock.elapsed() < TimeLimitMs) {
        ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr *>(&group),
                 sizeof group);
        ++run.packets;
    }
    const qint64 ns = clock.nsecsElapsed();
    g_counting = false;
    ::close(fd);
    run.nsPerPacket = double(ns) / double(run.packets);
    run.allocations = g_allocations;
    return run;
}

double sendMicroseconds(SacnSender &sender, const QByteArray &levels)
{
    std::vector<double> times;
    for (int i = 0; i < 100; ++i) {
        QElapsedTimer clock;
        clock.start();
        sender.send(levels, 1);
        times.push_back(double(clock.nsecsElapsed()) / 1000.0);
    }
    return BenchmarkRun::median(times);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (const int refused = BenchmarkRun::begin("bench_sacnsend", &g_out))
        return refused;
    const quint64 packets = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 50000;
    QByteArray levels(512, '\0');
    for (int i = 0; i < levels.size(); ++i)
        levels[i] = char(i);

    SacnSender sender;
    if (sender.send(levels, 1) < 0) {
        std::fprintf(stderr, "bench_sacnsend: the sender sent nothing\n");
        return 1;
    }
    // The plain loop sends what the sender sends: its own packet, written once.
    std::vector<uchar> packet(SacnPackets::Dmp::MaxSize);
    SacnPackets::DataHeader header;
    header.cid = SacnSender::machineCid();
    header.sourceName = QByteArrayLiteral("Vardolux");
    packet.resize(size_t(SacnPackets::writeDataPacket(packet.data(), header,
                                                      reinterpret_cast<const uchar *>(levels.constData()),
                                                      quint16(levels.size()))));

    const Run repeats = senderRepeats(sender, packets);
    const Run plain = plainLoop(packet, packets);
    std::fprintf(g_out, "repeat path: %llu packets, %.0f ns per packet, %llu allocations (%.4f per packet)\n",
                 static_cast<unsigned long long>(repeats.packets), repeats.nsPerPacket,
                 static_cast<unsigned long long>(repeats.allocations),
                 double(repeats.allocations) / double(repeats.packets));
    std::fprintf(g_out, "plain sendto loop: %llu packets, %.0f ns per packet, %llu allocations\n",
                 static_cast<unsigned long long>(plain.packets), plain.nsPerPacket,
                 static_cast<unsigned long long>(plain.allocations));
    std::fprintf(g_out, "send() with the interface list read: %.1f us (median of 100)\n",
                 sendMicroseconds(sender, levels));
    sender.stop();
    return 0;
}
