// soak_artnet: does the program's memory stay flat under hours of a show's traffic? The window
// (offscreen) records with Poll Mode on while a sender thread in the peer namespace sends a mix
// for the given time: ArtDmx on 200 universes at 30 frames/s, ArtTimeCode from four senders,
// ArtPoll and ArtPollReply once a second, Art-Net and MadrixN sync, and garbage (short, foreign,
// unknown opcodes, random bytes), and ArtDmx from ever new sources (random universe and
// Physical), with the network view open so that its census fills to its bounds. Every ten
// seconds the recorded universe changes. Resident memory (VmRSS) is sampled every five
// seconds; the growth after the warm-up is the figure.
// Run it only through the private network:
//   tests/netns-run --peer build-perf/bench/soak_artnet [seconds, default 600] [--churn]
// With --churn the new sources are drawn from a pool of 20,000, so that the census and the
// event detector see sources appear, get lost and resume all the time.
#include "artnetpackets.h"
#include "benchmarkrun.h"
#include "benchnetwork.h"
#include "floodsender.h"
#include "privatenetwork.h"
#include "testpackets.h"
#include "vardolux.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

FILE *g_out = stdout; // the figures; standard output goes to /dev/null (engine diagnostics)

constexpr int DmxUniverses = 200;
constexpr int DmxFramesPerSecond = 30;
constexpr int TickMs = 10;
constexpr int StrangersPerTick = 10;
const char *const TimeCodeSenders[] = {"2.0.0.21", "2.0.0.22", "2.0.0.23", "2.0.0.24"};

struct Sent
{
    std::atomic<quint64> dmx{0};
    std::atomic<quint64> timeCode{0};
    std::atomic<quint64> poll{0};
    std::atomic<quint64> pollReply{0};
    std::atomic<quint64> sync{0};
    std::atomic<quint64> garbage{0};
    std::atomic<quint64> strangers{0};
};

class Traffic
{
public:
    bool open(QString *error)
    {
        m_main = PrivateNetwork::peerSenderSocket(QString(), 0, error);
        if (m_main < 0)
            return false;
        for (const char *address : TimeCodeSenders) {
            // Extra addresses on the peer's interface stand for further time code sources.
            QProcess::execute(QStringLiteral("nsenter"),
                              {QStringLiteral("--net=") + qEnvironmentVariable("VARDOLUX_PEER_NETNS"),
                               QStringLiteral("ip"), QStringLiteral("addr"), QStringLiteral("add"),
                               QLatin1String(address) + QStringLiteral("/8"),
                               QStringLiteral("dev"), QStringLiteral("art1")});
            const int fd = PrivateNetwork::peerSenderSocket(QLatin1String(address), 0, error);
            if (fd < 0)
                return false;
            m_timeCode.push_back(fd);
        }
        m_target.sin_family = AF_INET;
        m_target.sin_port = htons(BenchNetwork::ArtNetPort);
        inet_pton(AF_INET, PrivateNetwork::LocalAddress, &m_target.sin_addr);
        return true;
    }

    void run(double seconds, const std::atomic<bool> &stop, Sent &sent)
    {
        QElapsedTimer clock;
        clock.start();
        QRandomGenerator random(20261208);
        uchar packet[FloodSender::PacketSize];
        quint64 tick = 0;
        quint64 dmxSequence = 0;
        while (!stop.load() && clock.elapsed() < qint64(seconds * 1000)) {
            const qint64 due = qint64(tick) * TickMs;
            if (clock.elapsed() < due) {
                usleep(1000);
                continue;
            }
            // ArtDmx: 200 universes x 30 frames/s, spread over the ticks.
            const quint64 dmxDue = quint64(DmxUniverses) * DmxFramesPerSecond * (tick + 1) * TickMs / 1000;
            for (; dmxSequence < dmxDue; ++dmxSequence) {
                const quint16 universe = quint16(1 + dmxSequence % DmxUniverses);
                FloodSender::writeArtDmx(packet, universe, quint32(dmxSequence / DmxUniverses));
                sent.dmx += send(m_main, packet, FloodSender::PacketSize);
            }
            // Strangers: ArtDmx on random universes with random Physical bytes, each a source
            // the census has not seen, so that its tables reach their bounds within seconds.
            for (int stranger = 0; stranger < StrangersPerTick; ++stranger) {
                if (m_churnPool > 0) {
                    const int index = int(random.bounded(m_churnPool));
                    FloodSender::writeArtDmx(packet, quint16(1000 + index % 2000), quint32(tick));
                    packet[ArtNetPackets::Dmx::Physical] = quint8(index / 2000);
                } else {
                    FloodSender::writeArtDmx(packet, quint16(random.bounded(32768)), quint32(tick));
                    packet[ArtNetPackets::Dmx::Physical] = quint8(random.bounded(256));
                }
                sent.strangers += send(m_main, packet, FloodSender::PacketSize);
            }
            // ArtTimeCode, every tick from one of the four sources in turn.
            TestPackets::writeHeader(packet, 0x9700);
            packet[12] = 0;                              // Filler1
            packet[13] = 0;                              // Filler2
            packet[14] = quint8(tick % 30);              // Frames
            packet[15] = quint8(tick / 30 % 60);         // Seconds
            packet[16] = quint8(tick / 1800 % 60);       // Minutes
            packet[17] = quint8(tick / 108000 % 24);     // Hours
            packet[18] = quint8(tick % 4);               // Type
            sent.timeCode += send(m_timeCode[tick % m_timeCode.size()], packet, 19);
            // Sync of both families, pre and post in turn.
            const quint16 syncOpCode = tick % 2 ? 0x5202 : 0x5101;
            TestPackets::writeHeader(packet, syncOpCode, tick % 4 < 2 ? "Art-Net" : "MadrixN");
            packet[12] = quint8(tick % 3);               // sync value
            sent.sync += send(m_main, packet, 14);
            // Garbage: too short, foreign identifiers, unknown opcodes, random bytes.
            const int length = int(random.bounded(600));
            for (int i = 0; i < length; ++i)
                packet[i] = quint8(random.bounded(256));
            if (tick % 3 == 0 && length > 12)
                TestPackets::writeHeader(packet, quint16(random.bounded(65536)));
            sent.garbage += send(m_main, packet, length);
            // Once a second: an ArtPoll (answered in Poll Mode) and an ArtPollReply.
            if (tick % (1000 / TickMs) == 0) {
                TestPackets::writeHeader(packet, 0x2000);
                packet[12] = 0;                          // TalkToMe
                packet[13] = 0;                          // Priority
                sent.poll += send(m_main, packet, 14);
                std::memset(packet, 0, 240);
                TestPackets::writeHeader(packet, 0x2100);
                // A node of many ports, one reply per port.
                packet[ArtNetPackets::PollReply::BindIndex] = quint8(tick / 100);
                sent.pollReply += send(m_main, packet, 240);
            }
            ++tick;
        }
    }

private:
    quint64 send(int fd, const uchar *data, int length)
    {
        return ::sendto(fd, data, size_t(length), 0, reinterpret_cast<const sockaddr *>(&m_target),
                        sizeof m_target)
                       == length
                   ? 1
                   : 0;
    }

public:
    // With a pool, the strangers are drawn from that many sources (on 2000 universes), each
    // silent some 20 s between two packets: sources that appear, fall silent and come back.
    void setChurnPool(int sources) { m_churnPool = sources; }

private:
    int m_main = -1;
    int m_churnPool = 0;
    std::vector<int> m_timeCode;
    sockaddr_in m_target = {};
};

} // namespace

int main(int argc, char **argv)
{
    if (const int refused = BenchmarkRun::begin("soak_artnet", &g_out))
        return refused;
    const double seconds = argc > 1 ? QByteArray(argv[1]).toDouble() : 600;
    const bool churn = argc > 2 && QByteArray(argv[2]) == "--churn";
    // The frame history's ring is allocated once but its pages are touched as it fills: 8192
    // frames at 30 frames/s take 273 s, so the warm-up lasts that long when the run allows.
    const double warmUp = std::min(300.0, seconds / 2);
    const int sampleMs = 5000;

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Q_INIT_RESOURCE(images);
    QLoggingCategory::setFilterRules(QStringLiteral("vardolux.*.debug=false"));
    QTemporaryDir settingsDirectory; // the window's settings stay out of the user's
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDirectory.path());

    Traffic traffic;
    if (churn)
        traffic.setChurnPool(20000);
    QString error;
    if (!traffic.open(&error)) {
        std::fprintf(stderr, "soak_artnet: %s\n", qPrintable(error));
        return 1;
    }

    Vardolux window;
    window.show();
    QSpinBox *universe = window.findChild<QSpinBox *>(QStringLiteral("universeSpinBox"));
    QAction *record = window.findChild<QAction *>(QStringLiteral("recordAction"));
    QAction *pollMode = window.findChild<QAction *>(QStringLiteral("pollModeAction"));
    if (!universe || !record || !pollMode) {
        std::fprintf(stderr, "soak_artnet: the window lacks its spin box, Record or Poll Mode\n");
        return 1;
    }
    universe->setValue(7);
    record->trigger();
    if (!pollMode->isChecked())
        pollMode->trigger();
    // The network view open: its census and node list take every packet too.
    if (QAction *networkView = window.findChild<QAction *>(QStringLiteral("networkViewAction")))
        networkView->trigger();

    std::fprintf(g_out, "Soak: %g s of mixed traffic, Poll Mode on, recording, network view open; VmRSS every %d s, "
                        "warm-up %g s\n",
                 seconds, sampleMs / 1000, warmUp);
    const BenchNetwork::Counters before = BenchNetwork::readCounters();
    Sent sent;
    std::atomic<bool> stop{false};
    std::thread sending([&] { traffic.run(seconds, stop, sent); });

    QElapsedTimer clock;
    clock.start();
    std::vector<std::pair<double, qint64>> samples; // (seconds, KiB)
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const double at = double(clock.elapsed()) / 1000;
        const qint64 rss = BenchNetwork::residentKiB();
        samples.emplace_back(at, rss);
        std::fprintf(g_out, "  %6.0f s  VmRSS %7lld KiB\n", at, static_cast<long long>(rss));
        if (at + 1 >= seconds)
            application.quit();
    });
    sampler.start(sampleMs);
    samples.emplace_back(0.0, BenchNetwork::residentKiB());
    QTimer changeUniverse;
    int step = 0;
    QObject::connect(&changeUniverse, &QTimer::timeout, [&] {
        universe->setValue(1 + (7 + 37 * ++step) % DmxUniverses);
    });
    changeUniverse.start(10000);
    QTimer::singleShot(int(seconds * 1000) + 30000, &application, &QApplication::quit); // bound
    application.exec();
    stop = true;
    sending.join();
    const BenchNetwork::Counters after = BenchNetwork::readCounters();

    // Growth after the warm-up: last sample against the first one past it, and the slope of a
    // least-squares line through all samples past it.
    qint64 atWarmUp = -1;
    qint64 highest = 0;
    double sumT = 0, sumR = 0, sumTT = 0, sumTR = 0;
    int n = 0;
    for (const auto &[at, rss] : samples) {
        if (at < warmUp)
            continue;
        if (atWarmUp < 0)
            atWarmUp = rss;
        highest = std::max(highest, rss);
        sumT += at;
        sumR += double(rss);
        sumTT += at * at;
        sumTR += at * double(rss);
        ++n;
    }
    const qint64 last = samples.empty() ? -1 : samples.back().second;
    const double slope = n > 1 ? (n * sumTR - sumT * sumR) / (n * sumTT - sumT * sumT) : 0;
    std::fprintf(g_out, "Sent: %llu ArtDmx, %llu ArtTimeCode, %llu sync, %llu ArtPoll, "
                        "%llu ArtPollReply, %llu garbage, %llu ArtDmx from new sources\n",
                 static_cast<unsigned long long>(sent.dmx.load()),
                 static_cast<unsigned long long>(sent.timeCode.load()),
                 static_cast<unsigned long long>(sent.sync.load()),
                 static_cast<unsigned long long>(sent.poll.load()),
                 static_cast<unsigned long long>(sent.pollReply.load()),
                 static_cast<unsigned long long>(sent.garbage.load()),
                 static_cast<unsigned long long>(sent.strangers.load()));
    std::fprintf(g_out, "Dropped by the kernel: %llu; datagrams the program sent (poll replies): "
                        "%llu\n",
                 static_cast<unsigned long long>(after.receiveBufferErrors - before.receiveBufferErrors),
                 static_cast<unsigned long long>(after.outDatagrams - before.outDatagrams));
    std::fprintf(g_out, "VmRSS: start %lld KiB, after warm-up %lld KiB, end %lld KiB, highest "
                        "%lld KiB; growth after warm-up %lld KiB (trend %.1f KiB/min over %d samples)\n",
                 static_cast<long long>(samples.empty() ? -1 : samples.front().second),
                 static_cast<long long>(atWarmUp), static_cast<long long>(last),
                 static_cast<long long>(highest), static_cast<long long>(last - atWarmUp),
                 slope * 60, n);
    return 0;
}
