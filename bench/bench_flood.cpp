// bench_flood: the program under a large show's traffic, beside a plain receiver on the same
// flood in the same run. A sender process in the peer namespace sends 512-channel ArtDmx round
// robin over 1000 universes, first paced evenly at 44 frames per second (44,000 ArtDmx/s, one
// datagram at a time as a console sends them), then flat out; each for the given seconds.
// Receivers, one after the other: a plain recvmmsg() loop that wakes for every datagram it can,
// then the window (offscreen) recording one universe with Poll Mode on, then the same window
// with the network view open.
// Reported per receiver and flood: the CPU share of this process (user + system time of all its
// threads, getrusage), the datagrams the kernel dropped for want of room in the socket's queue
// (RcvbufErrors of this namespace), the record tick interval (the model's dataChanged) median and
// worst, the time from an ArtPoll sent by the peer every 100 ms to its ArtPollReply, and how long
// the machine kept the whole process from running at worst (StallWatch).
// With --activity the window records with the change highlight on and the scope open on 8
// channels, and then takes the recorded universe alone at a console's 44 frames/s and at 10,000
// frames/s, every frame changing all 512 levels, while a 10 ms timer measures how late the event
// loop answers (the 44 frames/s run is the yardstick of what the shared machine itself adds);
// last, the time one paint of the scope and of the table takes with that flood's history.
// After the window's floods, the show load again with a second console on the recorded universe
// (44 frames/s from another address of the peer), "Merged (HTP)" chosen from the window's
// context menu and the merge dock open (+merge).
// Then the show load with the network view and the Event Log dock open (+event log).
// Last, the show load once more with the network view open and a capture written to a file in
// /tmp (+capture; deleted afterwards), beside the +network row without it.
// With --probe the 10 ms timer runs in every row of the window, so that the event loop's own
// delays can be told from the machine's (it adds some 100 wake-ups a second to those rows).
// The receiver process runs on CPU 0 and the sender on CPU 1 when the machine has two.
// Run it only through the private network:
//   tests/netns-run --peer build-perf/bench/bench_flood [seconds per flood, default 10] [--activity]
//                                                        [--probe]
#include "benchmarkrun.h"
#include "benchnetwork.h"
#include "capturecontrol.h"
#include "floodprocess.h"
#include "floodsender.h"
#include "model.h"
#include "plainreceiverthread.h"
#include "secondconsole.h"
#include "vardolux.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QItemSelectionModel>
#include <QMenu>
#include <QSettings>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <thread>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace FloodProcess;
using BenchmarkRun::median;

FILE *g_out = stdout; // the figures; standard output goes to /dev/null (engine diagnostics)
bool g_probeEveryRow = false; // --probe

constexpr int Universes = 1000;
constexpr double FramesPerSecond = 44;
constexpr quint16 WatchedUniverse = 500;
constexpr double ShownUniverseFlood = 10000;
constexpr int ProbeIntervalMs = 10;
constexpr int PaintsMeasured = 20;

// Counts the paints a widget gets, whatever asked for them.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int paints() const { return m_paints; }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++m_paints;
        return false;
    }

private:
    int m_paints = 0;
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

// One receiver under one flood.
struct Row : ReceiverFigures
{
    bool window = false;
    int ticks = 0;
    double tickMedian = 0;
    double tickWorst = 0; // the interval furthest from 200 ms
    int fresh = 0;
    double scopePaintsPerSecond = -1; // -1: not counted
    double tablePaintsPerSecond = -1;
    bool probed = false;
    double probeLateMedian = 0;
    double probeLateWorst = 0;
    double machineStallWorst = 0;
};

struct Flood
{
    const char *name;
    double rate;
    int universes = Universes; // 1: the watched universe alone, with the 10 ms probe
};

// A timer that should fire every ProbeIntervalMs: how late it comes is how long the event loop
// kept the user waiting.
class LatenessProbe
{
public:
    LatenessProbe()
    {
        m_lateness.reserve(size_t(60 * 1000 / ProbeIntervalMs + 100));
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            m_lateness.push_back(double(std::max<qint64>(now - m_expected, 0)));
            m_expected = now + ProbeIntervalMs;
        });
    }
    void start()
    {
        m_lateness.clear();
        m_clock.start();
        m_expected = ProbeIntervalMs;
        m_timer.start(ProbeIntervalMs);
    }
    void stop() { m_timer.stop(); }
    const std::vector<double> &lateness() const { return m_lateness; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_expected = 0;
    std::vector<double> m_lateness;
};

// A thread of this process on the same CPU that sleeps 5 ms at a time: the scheduler wakes it
// even while the event loop is busy, so when it comes late, the machine took the CPU from the
// whole process (another process, or the host of a virtual machine), and a late record tick at
// the same time is not the program's doing. Its own CPU time and wake-ups are left out of the
// receiver's figures.
class StallWatch
{
public:
    StallWatch()
        : m_thread([this] {
              while (!m_stop.load()) {
                  QElapsedTimer clock;
                  clock.start();
                  usleep(SleepMs * 1000);
                  ++m_wakeUps;
                  m_worstMs = std::max(m_worstMs, double(clock.nsecsElapsed()) / 1e6 - SleepMs);
              }
              timespec used = {};
              clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
              m_cpuSeconds = double(used.tv_sec) + double(used.tv_nsec) / 1e9;
          })
    {
    }
    ~StallWatch() { stop(); }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    // After stop(): the longest it slept beyond its 5 ms, and what it cost.
    double worstMs() const { return m_worstMs; }
    double cpuSeconds() const { return m_cpuSeconds; }
    quint64 wakeUps() const { return m_wakeUps; }

private:
    static constexpr int SleepMs = 5;
    std::atomic<bool> m_stop{false};
    double m_worstMs = 0;
    double m_cpuSeconds = 0;
    quint64 m_wakeUps = 0;
    std::thread m_thread;
};

// Runs one flood while the event loop turns (for the window) or while the plain receiver's
// thread works (the calling thread then only waits), and measures this process meanwhile.
Row measure(SenderProcess &sender, const Flood &flood, double seconds, TickWatch *watch,
            const PaintCounter *scopePaints = nullptr, const PaintCounter *tablePaints = nullptr)
{
    Row row;
    row.flood = flood.name;
    row.window = watch != nullptr;
    const BenchNetwork::Counters before = BenchNetwork::readCounters();
    const double cpuBefore = BenchNetwork::processCpuSeconds();
    const quint64 wakeUpsBefore = BenchNetwork::processWakeUps();
    const int scopePaintsBefore = scopePaints ? scopePaints->paints() : 0;
    const int tablePaintsBefore = tablePaints ? tablePaints->paints() : 0;
    LatenessProbe probe;
    row.probed = watch && (flood.universes == 1 || g_probeEveryRow);
    if (row.probed)
        probe.start();
    StallWatch stalls;
    QElapsedTimer wall;
    wall.start();
    if (watch) // from half a second in, once the watched universe has arrived
        QTimer::singleShot(500, watch, [watch] { watch->startCounting(); });
    row.report = sender.send(flood.rate, seconds, watch != nullptr, watch != nullptr,
                             flood.universes, flood.universes == 1 ? WatchedUniverse : 1);
    const double wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    stalls.stop();
    row.machineStallWorst = stalls.worstMs();
    probe.stop();
    if (scopePaints && tablePaints) {
        row.scopePaintsPerSecond = (scopePaints->paints() - scopePaintsBefore) / wallSeconds;
        row.tablePaintsPerSecond = (tablePaints->paints() - tablePaintsBefore) / wallSeconds;
    }
    if (row.probed) {
        row.probeLateMedian = median(probe.lateness());
        row.probeLateWorst = probe.lateness().empty()
                ? 0 : *std::max_element(probe.lateness().begin(), probe.lateness().end());
    }
    row.cpuShare = (BenchNetwork::processCpuSeconds() - cpuBefore - stalls.cpuSeconds())
            / wallSeconds;
    row.wakeUpsPerSecond = double(BenchNetwork::processWakeUps() - wakeUpsBefore - stalls.wakeUps())
            / wallSeconds;
    if (watch) {
        watch->stopCounting();
        QEventLoop drain;
        QTimer::singleShot(200, &drain, &QEventLoop::quit);
        drain.exec();
        const std::vector<double> intervals = watch->intervals();
        row.ticks = watch->ticks();
        row.tickMedian = median(intervals);
        for (size_t i = 0; i < intervals.size(); ++i)
            if (i == 0 || std::fabs(intervals[i] - 200) > std::fabs(row.tickWorst - 200))
                row.tickWorst = intervals[i];
        row.fresh = watch->fresh();
    } else {
        usleep(200000);
    }
    row.drops = BenchNetwork::readCounters().receiveBufferErrors - before.receiveBufferErrors;
    return row;
}

void printRow(const Row &row)
{
    const double sentRate = double(row.report.sent) / qMax(0.001, row.report.seconds);
    std::fprintf(g_out, "| %-8s | %-8s | %7.0f/s | %5.3f core | %6.0f/s | %7llu | %.1f ms |",
                 row.receiver, row.flood, sentRate, row.cpuShare, row.wakeUpsPerSecond,
                 static_cast<unsigned long long>(row.drops), row.machineStallWorst);
    if (!row.window) {
        std::fprintf(g_out, " - | - | - | - |\n");
        return;
    }
    std::fprintf(g_out, " %.1f / %.1f ms (%d ticks, %d fresh) | %d of %d, median %.1f ms, "
                        "worst %.1f ms |",
                 row.tickMedian, row.tickWorst, row.ticks, row.fresh, row.report.answered,
                 row.report.polls, row.report.pollMedianMs, row.report.pollWorstMs);
    if (row.probed)
        std::fprintf(g_out, " %.1f / %.1f ms |", row.probeLateMedian, row.probeLateWorst);
    else
        std::fprintf(g_out, " - |");
    if (row.scopePaintsPerSecond >= 0)
        std::fprintf(g_out, " %.1f/s, %.1f/s |\n", row.scopePaintsPerSecond,
                     row.tablePaintsPerSecond);
    else
        std::fprintf(g_out, " - |\n");
}

// The change highlight on and the scope open on the first 8 channels, in a window of a
// laptop's screen, so that the scope is as wide as a user would have it.
bool openActivityViews(Vardolux &window)
{
    auto *highlight = window.findChild<QAction *>(QStringLiteral("highlightAction"));
    auto *scope = window.findChild<QDockWidget *>(QStringLiteral("scopeDock"));
    auto *table = window.findChild<QTableView *>(QStringLiteral("tableView"));
    if (!highlight || !scope || !table || !window.findChild<QWidget *>(QStringLiteral("scopeWidget")))
        return false;
    window.resize(1280, 800);
    highlight->setChecked(true);
    scope->show();
    for (int column = 0; column < 8; ++column)
        table->selectionModel()->select(table->model()->index(0, column),
                                        QItemSelectionModel::Select);
    return true;
}

// A choice from the context menu's Levels Shown, and the merge dock shown or hidden by its own
// command.
bool showLevels(Vardolux &window, const QString &choice, bool dockShown)
{
    const std::unique_ptr<QMenu> menu(window.createPopupMenu());
    auto *levels = menu->findChild<QMenu *>(QStringLiteral("levelChoiceMenu"));
    auto *dock = window.findChild<QDockWidget *>(QStringLiteral("mergeDock"));
    if (!levels || !dock)
        return false;
    const QList<QAction *> choices = levels->actions();
    const auto chosen = std::find_if(choices.cbegin(), choices.cend(),
                                     [&choice](const QAction *action) {
                                         return action->text() == choice;
                                     });
    if (chosen == choices.cend())
        return false;
    (*chosen)->trigger();
    if (dock->isVisible() != dockShown)
        dock->toggleViewAction()->trigger();
    return true;
}

struct PaintTime
{
    double medianMs = 0;
    double worstMs = 0;
};

PaintTime timePaints(QWidget *widget)
{
    std::vector<double> times;
    for (int i = 0; i < PaintsMeasured; ++i) {
        QElapsedTimer clock;
        clock.start();
        widget->repaint();
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return {median(times), *std::max_element(times.begin(), times.end())};
}

// With the view frozen on what the last flood left: one paint of the scope at each span, and
// of the table, each painted PaintsMeasured times right away.
void printPaintTimes(Vardolux &window)
{
    auto *freeze = window.findChild<QAction *>(QStringLiteral("freezeAction"));
    auto *spanBox = window.findChild<QComboBox *>(QStringLiteral("scopeSpanBox"));
    auto *scope = window.findChild<QWidget *>(QStringLiteral("scopeWidget"));
    auto *table = window.findChild<QTableView *>(QStringLiteral("tableView"));
    if (!freeze || !spanBox || !scope || !table) {
        std::fprintf(stderr, "bench_flood: the window lacks Freeze or its scope\n");
        return;
    }
    freeze->trigger();
    std::fprintf(g_out, "\nOne paint, view frozen after the flood of %.0f frames/s on the "
                        "recorded universe (median / worst of %d):\n",
                 ShownUniverseFlood, PaintsMeasured);
    for (int index = 0; index < spanBox->count(); ++index) {
        spanBox->setCurrentIndex(index);
        const PaintTime time = timePaints(scope);
        std::fprintf(g_out, "  scope, %s, %d x %d px: %.2f / %.2f ms\n",
                     qPrintable(spanBox->currentText()), scope->width(), scope->height(),
                     time.medianMs, time.worstMs);
    }
    auto *highlight = window.findChild<QAction *>(QStringLiteral("highlightAction"));
    for (bool on : {true, false}) {
        if (highlight)
            highlight->setChecked(on);
        const PaintTime time = timePaints(table->viewport());
        std::fprintf(g_out, "  table, change highlight %s, %d x %d px: %.2f / %.2f ms\n",
                     on ? "on" : "off", table->viewport()->width(), table->viewport()->height(),
                     time.medianMs, time.worstMs);
    }
    if (highlight)
        highlight->setChecked(true);
    spanBox->setCurrentIndex(0);
    freeze->trigger();
}

// The floor under any capture: a thread that only writes the same bytes to a file in the same
// folder, at the same rate, in blocks of 1 MiB; its CPU time (user and system) per second.
double plainWriterCore(const QString &path, quint64 bytes, double seconds)
{
    double core = -1;
    std::thread writer([&] {
        const int descriptor = ::open(QFile::encodeName(path).constData(),
                                      O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (descriptor < 0)
            return;
        const std::vector<char> block(1 << 20, '\x5a');
        const auto start = std::chrono::steady_clock::now();
        timespec cpuStart = {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuStart);
        for (quint64 written = 0; written < bytes; written += block.size()) {
            if (::write(descriptor, block.data(), block.size()) < 0)
                break;
            std::this_thread::sleep_until(
                    start + std::chrono::duration<double>(seconds * double(written + block.size())
                                                          / double(bytes)));
        }
        timespec cpuEnd = {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuEnd);
        ::close(descriptor);
        core = (double(cpuEnd.tv_sec - cpuStart.tv_sec)
                + double(cpuEnd.tv_nsec - cpuStart.tv_nsec) * 1e-9) / seconds;
    });
    writer.join();
    QFile::remove(path);
    return core;
}

// The show load with the network view open and a capture running to a file in /tmp; what it
// wrote, for the table's note.
QString measureCapture(Vardolux &window, SenderProcess &sender, const Flood &flood,
                       double seconds, TickWatch *watch, std::vector<Row> *rows)
{
    auto *control = window.findChild<CaptureControl *>();
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/bench_flood-XXXXXX"));
    if (!control || !folder.isValid()
        || !control->startCaptureTo(folder.filePath(QStringLiteral("show.pcap")))) {
        std::fprintf(stderr, "bench_flood: no capture\n");
        return QString();
    }
    rows->push_back(measure(sender, flood, seconds, watch));
    rows->back().receiver = "+capture";
    control->stopCapture();
    const CaptureFileWriter::Status status = control->captureStatus();
    const double megabytesPerSecond =
            double(status.bytesWritten) * 1e-3
            / double(std::max<qint64>(1, QDateTime::currentMSecsSinceEpoch() - status.startedMs));
    const double plainCore = plainWriterCore(folder.filePath(QStringLiteral("plain.bin")),
                                             status.bytesWritten, seconds);
    return QStringLiteral("%1 datagrams written, %2 not captured, the writing thread %3 core, "
                          "%4 MB/s to the file; a plain writer of the same bytes at the same "
                          "rate %5 core")
            .arg(status.datagrams)
            .arg(status.notCaptured)
            .arg(status.writerCpuSeconds / seconds, 0, 'f', 3)
            .arg(megabytesPerSecond, 0, 'f', 1)
            .arg(plainCore, 0, 'f', 4);
}

} // namespace

int main(int argc, char **argv)
{
    if (const int refused = BenchmarkRun::begin("bench_flood", &g_out))
        return refused;
    bool withActivity = false;
    double seconds = 10;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--activity")
            withActivity = true;
        else if (QByteArray(argv[i]) == "--probe")
            g_probeEveryRow = true;
        else
            seconds = qBound(1.0, QByteArray(argv[i]).toDouble(), 60.0);
    }
    const Flood floods[] = {{"44,000/s", Universes * FramesPerSecond}, {"flat out", 0}};
    const Flood shownUniverseAlone[] = {{"alone 44/s", FramesPerSecond, 1},
                                        {"alone 10,000/s", ShownUniverseFlood, 1}};

    // The sender is a process of its own, so that this process's CPU time is the receiver's.
    SenderProcess sender;
    if (!sender.start(WatchedUniverse)) {
        std::perror("bench_flood: fork");
        return 1;
    }
    pinToCpu(0);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Q_INIT_RESOURCE(images);
    QTemporaryDir settingsDirectory; // the window's settings stay out of the user's
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDirectory.path());

    std::vector<Row> rows;
    // The plain receiver first: the window's engine keeps the port once it has it.
    {
        const PlainReceiverThread plain;
        if (!plain.isRunning()) {
            std::fprintf(stderr, "bench_flood: %s\n", qPrintable(plain.errorString()));
            return 1;
        }
        for (const Flood &flood : floods) {
            rows.push_back(measure(sender, flood, seconds, nullptr));
            rows.back().receiver = "recvmmsg";
        }
    }

    Vardolux window;
    window.show();
    Model *model = window.findChild<Model *>(QStringLiteral("model"));
    QSpinBox *universe = window.findChild<QSpinBox *>(QStringLiteral("universeSpinBox"));
    QAction *record = window.findChild<QAction *>(QStringLiteral("recordAction"));
    QAction *pollMode = window.findChild<QAction *>(QStringLiteral("pollModeAction"));
    if (!model || !universe || !record || !pollMode) {
        std::fprintf(stderr, "bench_flood: the window lacks its model, spin box, Record or "
                             "Poll Mode\n");
        sender.stop();
        return 1;
    }
    universe->setValue(WatchedUniverse);
    record->trigger();
    if (!pollMode->isChecked())
        pollMode->trigger();
    if (withActivity && !openActivityViews(window)) {
        std::fprintf(stderr, "bench_flood: the window lacks its activity views\n");
        sender.stop();
        return 1;
    }
    TickWatch watch(model);
    {
        QEventLoop settle;
        QTimer::singleShot(1000, &settle, &QEventLoop::quit);
        settle.exec();
    }
    for (const Flood &flood : floods) {
        rows.push_back(measure(sender, flood, seconds, &watch));
        rows.back().receiver = "Vardolux";
    }
    if (withActivity) {
        const PaintCounter scopePaints(window.findChild<QWidget *>(QStringLiteral("scopeWidget")));
        const PaintCounter tablePaints(
                window.findChild<QTableView *>(QStringLiteral("tableView"))->viewport());
        for (const Flood &flood : shownUniverseAlone) {
            rows.push_back(measure(sender, flood, seconds, &watch, &scopePaints, &tablePaints));
            rows.back().receiver = "Vardolux";
        }
    }
    {
        const SecondConsole second(WatchedUniverse, seconds + 5);
        QEventLoop settle;
        QTimer::singleShot(1000, &settle, &QEventLoop::quit);
        settle.exec();
        if (second.running() && showLevels(window, QStringLiteral("Merged (HTP)"), true)) {
            rows.push_back(measure(sender, floods[0], seconds, &watch));
            rows.back().receiver = "+merge";
            showLevels(window, QStringLiteral("Latest packet"), false);
        } else {
            std::fprintf(stderr, "bench_flood: no second console, or the window lacks "
                                 "Levels Shown or its merge dock\n");
        }
    }
    // The same with the network view open: its census counts every universe and its node list
    // polls every 3 s, while the window still records the watched universe.
    if (QAction *networkView = window.findChild<QAction *>(QStringLiteral("networkViewAction"))) {
        networkView->trigger();
        QEventLoop settle;
        QTimer::singleShot(1000, &settle, &QEventLoop::quit);
        settle.exec();
        for (const Flood &flood : floods) {
            rows.push_back(measure(sender, flood, seconds, &watch));
            rows.back().receiver = "+network";
        }
    }
    // And with the Event Log dock open beside it: the log's view catching up four times a second.
    if (auto *eventLog = window.findChild<QDockWidget *>(QStringLiteral("eventLogDock"))) {
        eventLog->toggleViewAction()->trigger();
        QEventLoop settle;
        QTimer::singleShot(1000, &settle, &QEventLoop::quit);
        settle.exec();
        rows.push_back(measure(sender, floods[0], seconds, &watch));
        rows.back().receiver = "+event log";
        eventLog->toggleViewAction()->trigger();
    }
    const QString captured = measureCapture(window, sender, floods[0], seconds, &watch, &rows);
    sender.stop();

    std::fprintf(g_out, "%d universes of 512 channels, %g s per flood, sender paced datagram by "
                        "datagram; Vardolux records universe %d with Poll Mode on%s and is "
                        "polled every %d ms; \"alone\": universe %d only, every frame changing "
                        "all 512 levels;\n+network: the same window with the Network dock open; +event log: and "
                        "the Event Log dock\n\n",
                 Universes, seconds, WatchedUniverse,
                 withActivity ? ", change highlight on, scope open on 8 channels" : "",
                 PollIntervalMs, WatchedUniverse);
    if (!captured.isEmpty())
        std::fprintf(g_out, "+capture: the same, capturing every datagram to a file (%s)\n\n",
                     qPrintable(captured));
    std::fprintf(g_out, "| Receiver | Flood | Sent | CPU | Wake-ups | Dropped | Machine stall | Record tick "
                        "median / worst | Poll answered | %d ms timer late median / worst | "
                        "Paints of scope, table |\n|---|---|---|---|---|---|---|---|---|---|---|\n",
                 ProbeIntervalMs);
    for (const Row &row : rows)
        printRow(row);
    std::fprintf(g_out,
                 "\nCPU: user + system time of all this process's threads over wall time; "
                 "wake-ups: their voluntary\ncontext switches. Not counted: the kernel's work "
                 "of carrying each datagram across the veth pair\ninto the socket's queue, "
                 "which runs in the sender's system call and is charged to the sender\n"
                 "process. A measurement from outside with the sender elsewhere, or per core, "
                 "charges more of it to\nthe receiver and so reads higher; and a sender that "
                 "bunches datagrams (this one did before it\npaced them one by one) lets a "
                 "per-datagram receiver take several per wake-up and reads lower.\n"
                 "Machine stall: the longest a thread of this process on the same CPU, "
                 "sleeping 5 ms at a time, woke\nlate; its own time and wake-ups are left out "
                 "of the figures.\nThe machine is shared: repeat and take medians.\n");
    if (withActivity)
        printPaintTimes(window);
    return 0;
}
