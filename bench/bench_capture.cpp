// bench_capture: opening and playing a large capture in the window, beside a plain libpcap loop
// over the same file in the same run. The capture (written first with libpcap's dumper, then
// deleted) holds 512-channel ArtDmx round robin over 1000 universes at 44 frames/s each, about
// 1.2 GB for 2 million datagrams. Reported: the plain loop's pass over the file; the window's
// opening (the index pass on its worker thread) and then its playing as fast as possible, each
// with how late a 10 ms timer on the window's thread came (the event loop's answer to the user,
// median and worst); the peak resident memory of the process (VmHWM) after each stage.
// It sends nothing, but the window's engine opens its ports: run it through the private network:
//   tests/netns-run --peer build-perf/bench/bench_capture [datagrams, default 2000000] [file]
#include "benchmarkrun.h"
#include "captureplayback.h"
#include "captureplayer.h"
#include "capturewriter.h"
#include "testpackets.h"
#include "vardolux.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Universes = 1000;
constexpr qint64 FrameIntervalNs = 1'000'000'000 / 44 / Universes; // 44 frames/s per universe
constexpr int ProbeIntervalMs = 10;
constexpr qint64 StartNs = 1'760'000'000'000'000'000;

FILE *g_out = stdout;

// The peak resident memory so far, in KiB.
long peakKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

void writeCapture(const QString &path, qint64 datagrams)
{
    CaptureWriter writer(path);
    QByteArray levels(512, '\0');
    for (qint64 i = 0; i < datagrams; ++i) {
        const int universe = int(i % Universes);
        levels[int(i / Universes % 512)] = char(i / Universes);
        writer.add(StartNs + i * FrameIntervalNs, 0x02000014, 6454, 0x02FFFFFF, 6454,
                   TestPackets::artDmx(quint16(universe), levels, quint8(i / Universes % 255 + 1)));
    }
}

double plainPassSeconds(const QString &path, qint64 *records)
{
    QElapsedTimer clock;
    clock.start();
    char error[PCAP_ERRBUF_SIZE];
    pcap_t *pcap = pcap_open_offline(path.toLocal8Bit().constData(), error);
    if (!pcap)
        return -1;
    pcap_pkthdr *header = nullptr;
    const u_char *data = nullptr;
    *records = 0;
    while (pcap_next_ex(pcap, &header, &data) == 1)
        ++*records;
    pcap_close(pcap);
    return double(clock.nsecsElapsed()) / 1e9;
}

// How late a 10 ms timer on this thread comes, in ms, while wait() runs the event loop.
struct LatenessProbe
{
    std::vector<double> lateness;
    QTimer timer;
    QElapsedTimer clock;
    qint64 expected = 0;

    LatenessProbe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.elapsed();
            lateness.push_back(double(std::max<qint64>(now - expected, 0)));
            expected = now + ProbeIntervalMs;
        });
        clock.start();
        expected = ProbeIntervalMs;
        timer.start(ProbeIntervalMs);
    }
    double worst() const
    {
        return lateness.empty() ? 0 : *std::max_element(lateness.cbegin(), lateness.cend());
    }
};

template <typename Done>
double runUntil(Done done, LatenessProbe *probe, int limitMs)
{
    probe->lateness.clear();
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return double(clock.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    if (const int refused = BenchmarkRun::begin("bench_capture", &g_out))
        return refused;
    const qint64 datagrams = argc > 1 ? std::max(1000LL, QByteArray(argv[1]).toLongLong()) : 2'000'000;
    const QString path = argc > 2 ? QString::fromLocal8Bit(argv[2])
                                  : QStringLiteral("/tmp/vardolux-bench-capture.pcap");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir settingsDirectory; // the window's settings stay out of the user's
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDirectory.path());

    QElapsedTimer clock;
    clock.start();
    writeCapture(path, datagrams);
    std::fprintf(g_out, "capture: %lld ArtDmx over %d universes, %.2f GB, %.1f s of show; written in %.1f s\n",
                 datagrams, Universes, double(QFileInfo(path).size()) / 1e9,
                 double(datagrams * FrameIntervalNs) / 1e9, double(clock.nsecsElapsed()) / 1e9);
    qint64 records = 0;
    const double plain = plainPassSeconds(path, &records);
    std::fprintf(g_out, "plain pcap_next_ex loop: %.2f s for %lld records; peak RSS %ld KiB\n",
                 plain, records, peakKib());

    {
        Vardolux window;
        window.show();
        auto *playback = window.findChild<CapturePlayback *>();
        LatenessProbe probe;
        playback->openCapture(path);
        const double opening = runUntil([&] { return !playback->opening(); }, &probe, 600'000);
        const CapturePlayer *player = playback->player();
        std::fprintf(g_out, "window, opening (index pass): %.2f s, %zu index entries; 10 ms timer late by %.0f ms median, %.0f ms worst; peak RSS %ld KiB\n",
                     opening, player->index().entries().size(),
                     BenchmarkRun::median(probe.lateness), probe.worst(), peakKib());
        playback->player()->setSpeed(CapturePlayer::AsFastAsPossible);
        const double playing = runUntil(
                [&] { return player->state() == CapturePlayer::State::AtEnd; }, &probe, 600'000);
        std::fprintf(g_out, "window, playing as fast as possible: %.2f s, %llu datagrams (%.0f/s); 10 ms timer late by %.0f ms median, %.0f ms worst; peak RSS %ld KiB\n",
                     playing, static_cast<unsigned long long>(player->datagramsFed()),
                     double(player->datagramsFed()) / playing,
                     BenchmarkRun::median(probe.lateness), probe.worst(), peakKib());
        playback->player()->seek(player->durationNs() / 2);
        const double seeking = runUntil([&] { return !player->seeking(); }, &probe, 60'000);
        std::fprintf(g_out, "window, seek to the middle: %.3f s; 10 ms timer late by %.0f ms worst\n",
                     seeking, probe.worst());
    }
    QFile::remove(path);
    return 0;
}
