// bench_replay: how faithfully a replayed capture keeps its timing. A capture of 100 Art-Net
// universes at 44 Hz (each frame a burst, the universes 20 µs apart) is written to /tmp, replayed
// by CaptureReplayer to 2.255.255.255 as captured, and received in the peer namespace by a plain
// socket that takes the kernel's arrival time of each datagram (SO_TIMESTAMPNS). Then, measured
// by the same receiver in the same run, a plain paced loop: the same datagrams from memory,
// sendto() at absolute deadlines. For each: datagrams received, p50/p99/max of
// |spacing out − spacing in| over consecutive datagrams, and the last datagram's offset error.
// The replayer's run is also captured by tshark on art1 in the peer namespace and its times read
// back with CaptureFileReader (skipped, and said, without tshark).
// Bounded: `seconds` of capture (default 60), each run at most that plus 10 s.
// Run it only through the private network:
//   tests/netns-run --peer build-perf/bench/bench_replay [seconds, default 60]
#include "benchmarkrun.h"
#include "capturefilereader.h"
#include "capturereplayer.h"
#include "privatenetwork.h"
#include "testcapturefiles.h"
#include "testpackets.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <pcap/pcap.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Universes = 100;
constexpr int FramesPerSecond = 44;
constexpr qint64 UniverseSpacingNs = 20'000;
constexpr quint32 Destination = 0x02FFFFFF; // 2.255.255.255

FILE *g_out = stdout;

qint64 captureTimeNs(long datagram)
{
    const long frame = datagram / Universes;
    return frame * 1'000'000'000LL / FramesPerSecond + (datagram % Universes) * UniverseSpacingNs;
}

QByteArray payloadOf(long datagram)
{
    const int universe = int(datagram % Universes);
    return TestPackets::artDmx(quint16(universe), QByteArray(512, char(datagram / Universes)));
}

bool writeCapture(const QString &path, long datagrams)
{
    pcap_t *dead = pcap_open_dead_with_tstamp_precision(DLT_EN10MB, 65535, PCAP_TSTAMP_PRECISION_NANO);
    pcap_dumper_t *dumper = pcap_dump_open(dead, QFile::encodeName(path).constData());
    if (!dumper) {
        std::fprintf(stderr, "bench_replay: %s\n", pcap_geterr(dead));
        pcap_close(dead);
        return false;
    }
    for (long i = 0; i < datagrams; ++i) {
        TestCaptureFiles::Ipv4Udp packet;
        packet.payload = payloadOf(i);
        packet.destination = Destination;
        const QByteArray frame = TestCaptureFiles::ethernet(packet.bytes());
        const qint64 ns = 1'700'000'000'000'000'000LL + captureTimeNs(i);
        pcap_pkthdr header = {};
        header.ts.tv_sec = ns / 1'000'000'000;
        header.ts.tv_usec = ns % 1'000'000'000; // nanoseconds in a file of that precision
        header.caplen = header.len = bpf_u_int32(frame.size());
        pcap_dump(reinterpret_cast<u_char *>(dumper), &header,
                  reinterpret_cast<const u_char *>(frame.constData()));
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return true;
}

// Kernel arrival times of everything that reaches port 6454 in the peer namespace, until the
// count expected or a quiet second after the first.
class KernelTimeReceiver
{
public:
    explicit KernelTimeReceiver(int fd) : m_fd(fd)
    {
        // Blocking, so that the receive timeout below is what ends a quiet wait.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        const int buffer = 8 * 1024 * 1024;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        const timeval wait = {0, 100 * 1000};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }

    void receive(size_t expected, qint64 limitNs, std::vector<qint64> *times,
                 std::vector<int> *universes)
    {
        times->clear();
        universes->clear();
        times->reserve(expected);
        universes->reserve(expected);
        unsigned char buffer[1500];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        timespec start = {};
        clock_gettime(CLOCK_MONOTONIC, &start);
        int quietTenths = 0;
        while (times->size() < expected && quietTenths < 10) {
            timespec now = {};
            clock_gettime(CLOCK_MONOTONIC, &now);
            if ((now.tv_sec - start.tv_sec) * 1'000'000'000LL + now.tv_nsec - start.tv_nsec > limitNs)
                break;
            iovec vector = {buffer, sizeof buffer};
            msghdr message = {};
            message.msg_iov = &vector;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t size = ::recvmsg(m_fd, &message, 0);
            if (size < 0) {
                quietTenths += times->empty() ? 0 : 1;
                continue;
            }
            quietTenths = 0;
            for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec arrival = {};
                    std::memcpy(&arrival, CMSG_DATA(c), sizeof arrival);
                    times->push_back(arrival.tv_sec * 1'000'000'000LL + arrival.tv_nsec);
                    universes->push_back(size > 15 ? buffer[14] | buffer[15] << 8 : -1);
                }
            }
        }
    }

private:
    int m_fd;
};

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(fraction * double(values.size())))];
}

void report(const char *what, long datagrams, const std::vector<qint64> &times,
            const std::vector<int> &universes)
{
    long outOfOrder = 0;
    for (size_t i = 0; i < universes.size(); ++i)
        outOfOrder += universes[i] != int(i % Universes) ? 1 : 0;
    std::vector<double> errorsMs;
    errorsMs.reserve(times.size());
    for (size_t i = 1; i < times.size(); ++i) {
        const qint64 out = times[i] - times[i - 1];
        const qint64 in = captureTimeNs(long(i)) - captureTimeNs(long(i) - 1);
        errorsMs.push_back(std::abs(double(out - in)) / 1e6);
    }
    const double lastMs = times.empty()
            ? 0
            : double((times.back() - times.front()) - captureTimeNs(long(times.size()) - 1)) / 1e6;
    std::fprintf(g_out,
                 "%-22s received %7zu of %7ld (%ld out of order)  |spacing error| p50 %.3f ms  "
                 "p99 %.3f ms  max %.3f ms  last datagram %+.3f ms\n",
                 what, times.size(), datagrams, outOfOrder, percentile(errorsMs, 0.5),
                 percentile(errorsMs, 0.99), percentile(errorsMs, 1.0), lastMs);
}

// tshark on art1 in the peer namespace, once it says it captures; nullptr (and why) otherwise.
std::unique_ptr<QProcess> startTshark(const QString &path, long datagrams, long seconds)
{
    const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (tshark.isEmpty()) {
        std::fprintf(g_out, "tshark is not installed (Debian package tshark): no capture of the replay\n");
        return nullptr;
    }
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->start(QStringLiteral("nsenter"),
                   {QStringLiteral("--net=") + qEnvironmentVariable("VARDOLUX_PEER_NETNS"), tshark,
                    "-i", "art1", "-f", "udp dst port 6454", "-c", QString::number(datagrams),
                    "-a", QStringLiteral("duration:%1").arg(seconds + 20), "-F", "pcap",
                    "-w", path});
    QByteArray said;
    while (!said.contains("Capture started") && process->waitForReadyRead(20000))
        said += process->readAll();
    if (!said.contains("Capture started")) {
        std::fprintf(g_out, "tshark did not start: %s\n", said.constData());
        return nullptr;
    }
    return process;
}

// The capture's times, as the replay's arrivals, with the port-address of each.
void readTsharkTimes(QProcess *tshark, const QString &path, std::vector<qint64> *times,
                     std::vector<int> *universes)
{
    times->clear();
    universes->clear();
    tshark->waitForFinished(60000);
    CaptureFileReader reader;
    if (!reader.open(path)) {
        std::fprintf(g_out, "tshark's capture: %s\n", qPrintable(reader.errorString()));
        return;
    }
    CapturedDatagram datagram;
    while (reader.readNext(&datagram)) {
        times->push_back(datagram.timeNs);
        universes->push_back(datagram.payloadLength > 15 ? datagram.payload[14] | datagram.payload[15] << 8 : -1);
    }
}

void plainPacedLoop(long datagrams)
{
    std::vector<QByteArray> payloads;
    payloads.reserve(Universes * 2);
    for (long i = 0; i < Universes; ++i)
        payloads.push_back(payloadOf(i));
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = htons(6454);
    target.sin_addr.s_addr = htonl(Destination);
    timespec start = {};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const qint64 startNs = start.tv_sec * 1'000'000'000LL + start.tv_nsec;
    for (long i = 0; i < datagrams; ++i) {
        const qint64 deadline = startNs + captureTimeNs(i);
        const timespec wake = {time_t(deadline / 1'000'000'000), long(deadline % 1'000'000'000)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr);
        const QByteArray &payload = payloads[size_t(i % Universes)];
        ::sendto(fd, payload.constData(), size_t(payload.size()), 0,
                 reinterpret_cast<const sockaddr *>(&target), sizeof target);
    }
    ::close(fd);
}

} // namespace

int main(int argc, char *argv[])
{
    if (const int refused = BenchmarkRun::begin("bench_replay", &g_out))
        return refused;
    QCoreApplication app(argc, argv);
    const long seconds = argc > 1 ? std::max(1L, std::min(600L, std::atol(argv[1]))) : 60;
    const long datagrams = seconds * FramesPerSecond * Universes;
    const qint64 limitNs = (seconds + 10) * 1'000'000'000LL;
    const QString path = QDir::temp().filePath(QStringLiteral("bench_replay_%1.pcap").arg(::getpid()));
    if (!writeCapture(path, datagrams))
        return 1;
    std::fprintf(g_out, "%ld datagrams: %d universes at %d Hz for %ld s, %lld bytes\n", datagrams,
                 Universes, FramesPerSecond, seconds, QFile(path).size());

    QString error;
    const int fd = PrivateNetwork::peerUdpSocket(QString(), 6454, &error);
    if (fd < 0) {
        std::fprintf(stderr, "bench_replay: %s\n", qPrintable(error));
        QFile::remove(path);
        return 1;
    }
    KernelTimeReceiver receiver(fd);
    std::vector<qint64> times;
    std::vector<int> universes;

    const QString tsharkPath = QDir::temp().filePath(QStringLiteral("bench_replay_%1_tshark.pcap").arg(::getpid()));
    std::unique_ptr<QProcess> tshark = startTshark(tsharkPath, datagrams, seconds);
    CaptureReplayer replayer;
    CaptureReplayer::Options options;
    options.path = path;
    std::thread listening([&] { receiver.receive(size_t(datagrams), limitNs, &times, &universes); });
    const bool started = replayer.start(options, &error);
    listening.join();
    replayer.stop();
    if (!started)
        std::fprintf(stderr, "bench_replay: %s\n", qPrintable(error));
    report("CaptureReplayer", datagrams, times, universes);
    if (tshark) {
        readTsharkTimes(tshark.get(), tsharkPath, &times, &universes);
        report("  the same by tshark", datagrams, times, universes);
        QFile::remove(tsharkPath);
    }

    listening = std::thread([&] { receiver.receive(size_t(datagrams), limitNs, &times, &universes); });
    plainPacedLoop(datagrams);
    listening.join();
    report("plain paced sendto()", datagrams, times, universes);

    ::close(fd);
    QFile::remove(path);
    return 0;
}
