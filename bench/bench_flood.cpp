// bench_flood: the program under a large show's traffic. The window (offscreen) records one
// universe while a sender process in the peer namespace sends 1000 universes at 44 frames per
// second (44,000 ArtDmx of 512 channels per second) for 10 seconds. Reported: the CPU share of
// this process, the datagrams the kernel dropped for want of room in the socket's queue, the
// record tick interval (from the model's dataChanged), and whether every tick showed a whole,
// current frame of the watched universe.
// Then flat out: rising rates, 2 s each, first to a plain recvmmsg() receiver, then to the
// recording window; the highest rate each takes without a drop, and their ratio.
// With --activity, the window records with the change highlight on and the scope open on 8
// channels of the watched universe, and afterwards takes a flood of 10,000 frames/s on the
// watched universe alone, during which a 10 ms timer measures how late the event loop answers.
// Run it only through the private network:
//   tests/netns-run --peer build-perf/bench/bench_flood [seconds] [--activity]
#include "benchnetwork.h"
#include "floodsender.h"
#include "model.h"
#include "plainreceiver.h"
#include "vardolux.h"

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QItemSelectionModel>
#include <QTableView>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

FILE *g_out = stdout; // the figures; standard output goes to /dev/null (engine diagnostics)

constexpr int Universes = 1000;
constexpr double FramesPerSecond = 44;
constexpr quint16 WatchedUniverse = 500;

// What the parent asks of the sender process, and what it answers.
struct Command
{
    double rate = 0;
    double seconds = 0;
    bool quit = false;
    int universes = Universes;         // from firstUniverse on
    quint16 firstUniverse = 1;
};
struct Report
{
    quint64 sent = 0;
    double seconds = 0;
};

[[noreturn]] void senderProcess(int commands, int reports)
{
    QString error;
    const int fd = BenchNetwork::peerSocket(&error);
    if (fd < 0) {
        std::fprintf(stderr, "bench_flood sender: %s\n", qPrintable(error));
        _exit(1);
    }
    FloodSender sender(fd, BenchNetwork::LocalAddress, BenchNetwork::ArtNetPort);
    Command command;
    while (read(commands, &command, sizeof command) == ssize_t(sizeof command) && !command.quit) {
        FloodSender::Plan plan;
        plan.universes = command.universes;
        plan.firstUniverse = command.firstUniverse;
        plan.rate = command.rate;
        plan.seconds = command.seconds;
        plan.watchedUniverse = WatchedUniverse;
        Report report;
        report.sent = sender.run(plan);
        report.seconds = sender.secondsTaken();
        if (write(reports, &report, sizeof report) != ssize_t(sizeof report))
            break;
    }
    _exit(0);
}

class SenderProcess
{
public:
    bool start()
    {
        int commands[2];
        int reports[2];
        if (pipe(commands) != 0 || pipe(reports) != 0)
            return false;
        m_pid = fork();
        if (m_pid < 0)
            return false;
        if (m_pid == 0) {
            ::close(commands[1]);
            ::close(reports[0]);
            senderProcess(commands[0], reports[1]);
        }
        ::close(commands[0]);
        ::close(reports[1]);
        m_commands = commands[1];
        m_reports = reports[0];
        return true;
    }

    // Sends at the rate for the time while the event loop runs; returns what was sent.
    Report send(double rate, double seconds, bool runEventLoop, int universes = Universes,
                quint16 firstUniverse = 1)
    {
        Command command;
        command.rate = rate;
        command.seconds = seconds;
        command.universes = universes;
        command.firstUniverse = firstUniverse;
        Report report;
        if (write(m_commands, &command, sizeof command) != ssize_t(sizeof command))
            return report;
        if (runEventLoop) {
            QEventLoop loop;
            QSocketNotifier notifier(m_reports, QSocketNotifier::Read);
            QObject::connect(&notifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
            QTimer::singleShot(int(seconds * 1000) + 10000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        if (read(m_reports, &report, sizeof report) != ssize_t(sizeof report))
            report = Report();
        return report;
    }

    void stop()
    {
        if (m_pid <= 0)
            return;
        Command command;
        command.quit = true;
        if (write(m_commands, &command, sizeof command) != ssize_t(sizeof command))
            kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_commands = -1;
    int m_reports = -1;
};

// Watches the table: one dataChanged per record tick.
class TickWatch : public QObject
{
public:
    explicit TickWatch(Model *model) : m_model(model)
    {
        m_clock.start();
        connect(model, &Model::dataChanged, this, [this] { tick(); });
    }

    void startCounting()
    {
        m_counting = true;
        m_times.clear();
        m_whole = 0;
        m_fresh = 0;
        m_lastRound = -1;
    }
    void stopCounting() { m_counting = false; }

    std::vector<double> intervals() const
    {
        std::vector<double> result;
        for (size_t i = 1; i < m_times.size(); ++i)
            result.push_back(m_times[i] - m_times[i - 1]);
        return result;
    }
    int ticks() const { return int(m_times.size()); }
    int whole() const { return m_whole; }
    int fresh() const { return m_fresh; }

private:
    void tick()
    {
        if (!m_counting)
            return;
        m_times.push_back(double(m_clock.nsecsElapsed()) / 1e6);
        uchar levels[512];
        int length = 0;
        for (int row = 0; row < m_model->rowCount(); ++row) {
            for (int column = 0; column < m_model->columnCount(); ++column) {
                bool ok = false;
                const int level = m_model->levelAt(row, column, &ok);
                if (!ok || length >= 512)
                    continue;
                levels[length++] = uchar(level);
            }
        }
        int round = -1;
        if (FloodSender::isWatchedPattern(levels, length, &round)) {
            ++m_whole;
            if (round != m_lastRound)
                ++m_fresh;
            m_lastRound = round;
        }
    }

    Model *m_model;
    QElapsedTimer m_clock;
    bool m_counting = false;
    std::vector<double> m_times;
    int m_whole = 0;
    int m_fresh = 0;
    int m_lastRound = -1;
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Step
{
    double rate = 0;
    double achieved = 0;
    quint64 drops = 0;
};

void printStep(const char *who, const Step &step)
{
    std::fprintf(g_out, "  %-9s asked %7.0f/s  sent %7.0f/s  dropped %7llu\n", who, step.rate,
                 step.achieved, static_cast<unsigned long long>(step.drops));
}

// The sender does not always reach the rate asked for (it shares two cores with everything
// else), so the figure is the highest rate actually sent in a step without drops.
double highestWithoutDrops(const std::vector<Step> &steps)
{
    double best = 0;
    for (const Step &step : steps)
        if (step.drops == 0)
            best = std::max(best, step.achieved);
    return best;
}

// The change highlight on and the scope open on the first 8 channels.
bool openActivityViews(Vardolux &window)
{
    auto *highlight = window.findChild<QAction *>(QStringLiteral("highlightAction"));
    auto *scope = window.findChild<QDockWidget *>(QStringLiteral("scopeDock"));
    auto *table = window.findChild<QTableView *>(QStringLiteral("tableView"));
    if (!highlight || !scope || !table)
        return false;
    highlight->setChecked(true);
    scope->show();
    for (int column = 0; column < 8; ++column)
        table->selectionModel()->select(table->model()->index(0, column),
                                        QItemSelectionModel::Select);
    return true;
}

// 10,000 frames/s on the watched universe alone, every frame changing all 512 levels: how late
// a 10 ms timer fires (the event loop's answer to the user) and how the record tick keeps up.
void floodShownUniverse(SenderProcess &sender, TickWatch &watch, double seconds)
{
    constexpr double Rate = 10000;
    constexpr int ProbeMs = 10;
    std::vector<double> lateness;
    QElapsedTimer clock;
    clock.start();
    qint64 expected = ProbeMs;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        lateness.push_back(double(std::max<qint64>(now - expected, 0)));
        expected = now + ProbeMs;
    });
    probe.start(ProbeMs);
    watch.startCounting();
    const BenchNetwork::Counters before = BenchNetwork::readCounters();
    const double cpuBefore = BenchNetwork::processCpuSeconds();
    const Report report = sender.send(Rate, seconds, true, 1, WatchedUniverse);
    const double cpuSeconds = BenchNetwork::processCpuSeconds() - cpuBefore;
    watch.stopCounting();
    probe.stop();
    const BenchNetwork::Counters after = BenchNetwork::readCounters();
    const std::vector<double> intervals = watch.intervals();
    std::fprintf(g_out, "\nFlood on the recorded universe, scope open: %.0f frames/s asked, "
                        "%.0f/s sent for %.2f s\n",
                 Rate, double(report.sent) / qMax(0.001, report.seconds), report.seconds);
    std::fprintf(g_out, "  CPU share of the program: %.1f %% of one core; dropped by the kernel: "
                        "%llu\n",
                 100 * cpuSeconds / qMax(0.001, report.seconds),
                 static_cast<unsigned long long>(after.receiveBufferErrors
                                                 - before.receiveBufferErrors));
    std::fprintf(g_out, "  event loop: a %d ms timer fired %zu times, late by %.1f ms median, "
                        "%.1f ms at worst\n",
                 ProbeMs, lateness.size(), median(lateness),
                 lateness.empty() ? 0.0 : *std::max_element(lateness.begin(), lateness.end()));
    std::fprintf(g_out, "  record ticks: %d, interval median %.1f ms, worst %.1f ms\n",
                 watch.ticks(), median(intervals),
                 intervals.empty() ? 0.0 : *std::max_element(intervals.begin(), intervals.end()));
}

} // namespace

int main(int argc, char **argv)
{
    QString why;
    if (!BenchNetwork::isInsideWithPeer(&why)) {
        std::fprintf(stderr, "bench_flood: refusing to run: %s\n", qPrintable(why));
        return 2;
    }
    bool withActivity = false;
    double seconds = 10;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--activity")
            withActivity = true;
        else
            seconds = QByteArray(argv[i]).toDouble();
    }
    const double stepSeconds = 2;
    const std::vector<double> ladder = {44000, 88000, 132000, 176000, 220000, 264000,
                                        308000, 352000, 396000, 440000};

    // The sender is a process of its own, so that this process's CPU time is the program's.
    SenderProcess sender;
    if (!sender.start()) {
        std::perror("bench_flood: fork");
        return 1;
    }

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Q_INIT_RESOURCE(images);
    QTemporaryDir settingsDirectory; // the window's settings stay out of the user's
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDirectory.path());
    g_out = fdopen(dup(STDOUT_FILENO), "w");
    if (!g_out || !std::freopen("/dev/null", "w", stdout))
        return 1;
    std::setvbuf(g_out, nullptr, _IOLBF, 0);

    // Flat out, plain receiver: before the window exists, since its engine keeps the port.
    std::vector<Step> plainSteps;
    {
        QString error;
        const int fd = BenchNetwork::boundSocket(BenchNetwork::ArtNetPort, 4 * 1024 * 1024, &error);
        if (fd < 0) {
            std::fprintf(stderr, "bench_flood: %s\n", qPrintable(error));
            return 1;
        }
        PlainReceiver plain(fd);
        std::atomic<bool> stop{false};
        std::thread receiving([&] { plain.receiveUntilStopped(stop); });
        for (double rate : ladder) {
            const BenchNetwork::Counters before = BenchNetwork::readCounters();
            const Report report = sender.send(rate, stepSeconds, false);
            usleep(200000);
            const BenchNetwork::Counters after = BenchNetwork::readCounters();
            Step step{rate, double(report.sent) / qMax(0.001, report.seconds),
                      after.receiveBufferErrors - before.receiveBufferErrors};
            plainSteps.push_back(step);
            if (step.drops)
                break;
        }
        stop = true;
        receiving.join();
        ::close(fd);
    }

    Vardolux window;
    window.show();
    Model *model = window.findChild<Model *>(QStringLiteral("model"));
    QSpinBox *universe = window.findChild<QSpinBox *>(QStringLiteral("universeSpinBox"));
    QAction *record = window.findChild<QAction *>(QStringLiteral("recordAction"));
    if (!model || !universe || !record) {
        std::fprintf(stderr, "bench_flood: the window lacks its model, spin box or Record\n");
        sender.stop();
        return 1;
    }
    universe->setValue(WatchedUniverse);
    record->trigger();
    TickWatch watch(model);
    if (withActivity && !openActivityViews(window)) {
        std::fprintf(stderr, "bench_flood: the window lacks its activity views\n");
        sender.stop();
        return 1;
    }

    // The show: 1000 universes at 44 frames per second while the window records one of them.
    {
        QEventLoop settle;
        QTimer::singleShot(1000, &settle, &QEventLoop::quit);
        settle.exec();
    }
    const double rate = Universes * FramesPerSecond;
    std::fprintf(g_out, "Show load: %d universes x %g frames/s = %.0f ArtDmx/s for %g s, "
                        "recording universe %d%s\n",
                 Universes, FramesPerSecond, rate, seconds, WatchedUniverse,
                 withActivity ? ", change highlight on, scope open on 8 channels" : "");
    const BenchNetwork::Counters before = BenchNetwork::readCounters();
    const double cpuBefore = BenchNetwork::processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    // Ticks count from half a second into the show, once the watched universe has arrived.
    QTimer::singleShot(500, &watch, [&watch] { watch.startCounting(); });
    const Report report = sender.send(rate, seconds, true);
    watch.stopCounting();
    const double wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpuSeconds = BenchNetwork::processCpuSeconds() - cpuBefore;
    {
        QEventLoop drain;
        QTimer::singleShot(200, &drain, &QEventLoop::quit);
        drain.exec();
    }
    const BenchNetwork::Counters after = BenchNetwork::readCounters();

    const std::vector<double> intervals = watch.intervals();
    double worst = 0;
    int outside = 0;
    for (double interval : intervals) {
        worst = std::max(worst, std::fabs(interval - 200));
        if (interval < 180 || interval > 220)
            ++outside;
    }
    std::fprintf(g_out, "  sent %llu in %.2f s (%.0f/s)\n",
                 static_cast<unsigned long long>(report.sent), report.seconds,
                 double(report.sent) / qMax(0.001, report.seconds));
    std::fprintf(g_out, "  CPU share of the program: %.1f %% of one core (%.2f s CPU in %.2f s)\n",
                 100 * cpuSeconds / wallSeconds, cpuSeconds, wallSeconds);
    std::fprintf(g_out, "  dropped by the kernel: %llu (RcvbufErrors), %llu (input backlog)\n",
                 static_cast<unsigned long long>(after.receiveBufferErrors
                                                 - before.receiveBufferErrors),
                 static_cast<unsigned long long>(after.backlogDrops - before.backlogDrops));
    std::fprintf(g_out, "  record ticks: %d, interval median %.1f ms, worst %.1f ms off 200, "
                        "%d outside 180-220 ms\n",
                 watch.ticks(), median(intervals), worst, outside);
    std::fprintf(g_out, "  watched universe: %d of %d ticks showed a whole frame, %d a newer "
                        "one than the tick before\n",
                 watch.whole(), watch.ticks(), watch.fresh());
    if (withActivity)
        floodShownUniverse(sender, watch, seconds);

    std::fprintf(g_out, "\nFlat out, %g s per rate, %d universes (recvmmsg measured first, "
                        "before the window existed)\n",
                 stepSeconds, Universes);
    for (const Step &step : plainSteps)
        printStep("recvmmsg", step);
    std::vector<Step> engineSteps;
    for (double rate : ladder) {
        const BenchNetwork::Counters before = BenchNetwork::readCounters();
        const Report report = sender.send(rate, stepSeconds, true);
        QEventLoop drain;
        QTimer::singleShot(200, &drain, &QEventLoop::quit);
        drain.exec();
        const BenchNetwork::Counters after = BenchNetwork::readCounters();
        Step step{rate, double(report.sent) / qMax(0.001, report.seconds),
                  after.receiveBufferErrors - before.receiveBufferErrors};
        printStep("Vardolux", step);
        engineSteps.push_back(step);
        if (step.drops)
            break;
    }
    const double plainBest = highestWithoutDrops(plainSteps);
    const double engineBest = highestWithoutDrops(engineSteps);
    const bool plainLimitedBySender = !plainSteps.empty() && plainSteps.back().drops == 0;
    const bool engineLimitedBySender = !engineSteps.empty() && engineSteps.back().drops == 0;
    std::fprintf(g_out, "  highest rate without drops: recvmmsg %.0f/s%s, Vardolux %.0f/s%s; "
                        "ratio %.2f\n",
                 plainBest, plainLimitedBySender ? " (sender's limit)" : "", engineBest,
                 engineLimitedBySender ? " (sender's limit)" : "",
                 plainBest > 0 ? engineBest / plainBest : 0.0);

    sender.stop();
    return 0;
}
