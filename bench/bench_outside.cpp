// bench_outside: the installed program measured from outside, as a user's machine runs it: the
// real binary with its real window on a virtual X display (Xvfb), recording universe 1 with
// Poll Mode on, pinned to CPU 0, under the same floods as a plain recvmmsg() loop measured in
// the same run. The sender is a process of its own in the peer namespace on CPU 1; it sends
// 512-channel ArtDmx paced datagram by datagram, and an ArtPoll every 100 ms.
// Floods: 1000 universes at 44 frames/s (44,000/s), 3000 universes at 103,000/s, and 3000
// universes flat out; then the first flood again with a second console on universe 1 (44
// frames/s from another address of the peer), the levels shown chosen as "Merged (HTP)" in the
// Levels toolbar's box and the merge dock open (F9), clicked and typed as a user would. Then sACN: 1000 universes at 44 frames/s, each to its own multicast group,
// against the plain loop with the 1000 groups joined and the program started again with sACN on
// show (universe 1) and the watch list 1-1000 in its settings, Record typed into it. That row
// runs only when the program joined the 1000 groups (/proc/net/igmp), and says so otherwise.
// Reported per receiver and flood: the CPU share as the sum of the run time of all the
// receiver's threads (/proc/PID/task/*/schedstat) over wall time, their voluntary context
// switches (wake-ups), the datagrams the kernel dropped for want of room in a socket's queue
// (RcvbufErrors of this namespace) and the poll replies' latency.
// Needs Xvfb and xdotool (packages xvfb, xdotool). Run it only through the private network:
//   tests/netns-run --peer build-perf/bench/bench_outside build-perf/app/vardolux [seconds]
#include "benchmarkrun.h"
#include "benchnetwork.h"
#include "floodprocess.h"
#include "multicastmemberships.h"
#include "plainreceiverthread.h"
#include "privatenetwork.h"
#include "secondconsole.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QMap>
#include <QNetworkInterface>
#include <QPair>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace FloodProcess;

FILE *g_out = stdout;

constexpr quint16 RecordedUniverse = 1;
constexpr quint16 SacnPort = 5568;
constexpr int SacnUniverses = 1000;
// Where the Levels toolbar's box is in the window of a first start moved to 0,0 and sized
// 1280 x 760, as a screenshot of it shows; its list opens on "Latest packet", and
// "Merged (HTP)" is next.
constexpr int LevelBoxX = 612;
constexpr int LevelBoxY = 72;

struct Flood
{
    const char *name;
    int universes;
    double rate; // 0: flat out
    Traffic traffic = Traffic::ArtNet;
};

const Flood SacnFlood{"sACN 1000 universes, 44,000/s", SacnUniverses, 44000, Traffic::Sacn};

// Run time and voluntary context switches of every thread of a process, from /proc.
struct ThreadTimes
{
    double cpuSeconds = 0;
    quint64 wakeUps = 0;
    QMap<QByteArray, double> cpuSecondsByName; // by the threads' names (comm)
};

ThreadTimes threadTimes(pid_t pid)
{
    ThreadTimes times;
    const QString taskDirectory = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList threads = QDir(taskDirectory).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &thread : threads) {
        const QString directory = taskDirectory + QLatin1Char('/') + thread;
        QFile schedstat(directory + QStringLiteral("/schedstat"));
        QFile name(directory + QStringLiteral("/comm"));
        if (schedstat.open(QIODevice::ReadOnly) && name.open(QIODevice::ReadOnly)) {
            const double seconds = schedstat.readAll().split(' ').value(0).toDouble() / 1e9;
            times.cpuSeconds += seconds;
            times.cpuSecondsByName[name.readAll().trimmed()] += seconds;
        }
        QFile status(directory + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                times.wakeUps += line.mid(24).trimmed().toULongLong();
    }
    return times;
}

struct Row : ReceiverFigures
{
    QByteArray busiestThreads; // for the program: its threads' shares, the largest first
};

Row measure(SenderProcess &sender, const Flood &flood, double seconds, pid_t receiver,
            bool poll)
{
    Row row;
    row.flood = flood.name;
    const quint64 dropsBefore = BenchNetwork::readCounters().receiveBufferErrors;
    const ThreadTimes before = threadTimes(receiver);
    row.report = sender.send(flood.rate, seconds, poll, false, flood.universes, 1, flood.traffic);
    const ThreadTimes after = threadTimes(receiver);
    const double wall = qMax(0.001, row.report.seconds);
    row.cpuShare = (after.cpuSeconds - before.cpuSeconds) / wall;
    row.wakeUpsPerSecond = double(after.wakeUps - before.wakeUps) / wall;
    QList<QPair<double, QByteArray>> shares;
    for (auto it = after.cpuSecondsByName.cbegin(); it != after.cpuSecondsByName.cend(); ++it)
        shares.append({(it.value() - before.cpuSecondsByName.value(it.key())) / wall, it.key()});
    std::sort(shares.begin(), shares.end(), std::greater<>());
    for (const auto &share : shares)
        if (share.first >= 0.001)
            row.busiestThreads += share.second + ' ' + QByteArray::number(share.first, 'f', 3) + ", ";
    row.busiestThreads.chop(2);
    usleep(200000); // what is still queued reaches the socket or is counted as dropped
    row.drops = BenchNetwork::readCounters().receiveBufferErrors - dropsBefore;
    return row;
}

void printRow(const Row &row)
{
    std::fprintf(g_out, "| %-8s | %-24s | %7.0f/s | %5.3f core | %6.0f/s | %7llu |", row.receiver,
                 row.flood, double(row.report.sent) / qMax(0.001, row.report.seconds),
                 row.cpuShare, row.wakeUpsPerSecond,
                 static_cast<unsigned long long>(row.drops));
    if (row.report.polls == 0)
        std::fprintf(g_out, " - | %s |\n", row.busiestThreads.constData());
    else
        std::fprintf(g_out, " %d of %d, median %.1f ms, worst %.1f ms | %s |\n",
                     row.report.answered, row.report.polls, row.report.pollMedianMs,
                     row.report.pollWorstMs, row.busiestThreads.constData());
}

pid_t spawn(const QList<QByteArray> &arguments)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    std::vector<char *> argv;
    for (const QByteArray &argument : arguments)
        argv.push_back(const_cast<char *>(argument.constData()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "bench_outside: cannot start %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
}

void end(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

// A private X display of its own; its number from -displayfd, or -1.
pid_t startDisplay(int *display)
{
    int numberPipe[2];
    if (pipe(numberPipe) != 0)
        return -1;
    const pid_t pid = spawn({"Xvfb", "-displayfd", QByteArray::number(numberPipe[1]), "-nolisten",
                             "tcp", "-screen", "0", "1280x800x24"});
    ::close(numberPipe[1]);
    char number[16] = {};
    const ssize_t length = read(numberPipe[0], number, sizeof number - 1);
    ::close(numberPipe[0]);
    *display = length > 0 ? std::atoi(number) : -1;
    return pid;
}

bool spawnAndWait(const QList<QByteArray> &command)
{
    const pid_t pid = spawn(command);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// xdotool with the display given; true when it exits with 0.
bool xdotool(const QByteArray &display, const QList<QByteArray> &arguments)
{
    QList<QByteArray> command{"xdotool"};
    command += arguments;
    setenv("DISPLAY", display.constData(), 1);
    return spawnAndWait(command);
}

// The sACN groups 239.255.0.0/16 this namespace has joined, on any interface.
int joinedSacnGroups()
{
    QFile igmp(QStringLiteral("/proc/net/igmp"));
    if (!igmp.open(QIODevice::ReadOnly))
        return 0;
    int groups = 0;
    // Each group is its address in network byte order, printed as one hex number: 239.255.0.1
    // reads 0100FFEF on a little-endian machine.
    const QByteArray sacnHigh = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "FFEF" : "EFFF";
    for (const QByteArray &line : igmp.readAll().split('\n')) {
        const QByteArray group = line.simplified().split(' ').value(0);
        if (group.size() == 8
            && (QSysInfo::ByteOrder == QSysInfo::LittleEndian ? group.endsWith(sacnHigh)
                                                               : group.startsWith(sacnHigh)))
            ++groups;
    }
    return groups;
}

// The plain loop on sACN's port with the flood's groups joined on art0, as the program joins them.
Row measurePlainSacn(SenderProcess &sender, double seconds)
{
    const quint32 local = QHostAddress(QString::fromLatin1(PrivateNetwork::LocalAddress))
                                  .toIPv4Address();
    MulticastMemberships groups;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces)
        for (const QNetworkAddressEntry &entry : interface.addressEntries())
            if (entry.ip().toIPv4Address() == local)
                groups.setInterfaces({{interface.index(), local}});
    for (int universe = 1; universe <= SacnUniverses; ++universe)
        groups.join(0xEFFF0000u | quint32(universe));
    const PlainReceiverThread plain(SacnPort);
    Row row = measure(sender, SacnFlood, seconds, getpid(), false);
    row.receiver = "recvmmsg";
    return row;
}

// The show load in the window sized 1280 x 760, then again with a second console on the
// universe on show, "Merged (HTP)" chosen in the Levels box (its list opened by a click, the
// next entry taken by keys) and the merge dock opened with F9. The plain loop's row for the same
// flood stands beside them: the second console's 44 frames/s add nothing it would notice.
// VARDOLUX_BENCH_GRAB names a program run on the display before the merged row, to keep a
// picture of what was measured (the grab's file name is its argument, merged.png).
void measureMerged(SenderProcess &sender, const Flood &flood, double seconds, pid_t receiver,
                   const QByteArray &displayName, std::vector<Row> *rows)
{
    static const Flood sized{"1000 universes, window 1280 x 760", flood.universes, flood.rate};
    static const Flood merged{"+ 2nd source, HTP, merge dock", flood.universes, flood.rate};
    const QByteArray window = QByteArray::number(receiver);
    if (!xdotool(displayName, {"search", "--sync", "--onlyvisible", "--pid", window, "--name",
                               "Vardolux", "windowmove", "%1", "0", "0", "windowsize", "%1",
                               "1280", "760"})) {
        std::fprintf(stderr, "bench_outside: could not size the program's window\n");
        return;
    }
    sleep(1);
    rows->push_back(measure(sender, sized, seconds, receiver, true));
    rows->back().receiver = "Vardolux";

    const SecondConsole second(RecordedUniverse, seconds + 10);
    sleep(2); // the second console reaches the Levels box's list
    const bool chosen = second.running()
            && xdotool(displayName, {"search", "--sync", "--onlyvisible", "--pid", window,
                                     "--name", "Vardolux", "windowfocus", "--sync", "key", "F9",
                                     "sleep", "0.5", "mousemove", "--window", "%1",
                                     QByteArray::number(LevelBoxX), QByteArray::number(LevelBoxY),
                                     "click", "1", "sleep", "0.5", "key", "--delay", "200",
                                     "Down", "Return"});
    if (!chosen) {
        std::fprintf(stderr, "bench_outside: could not choose the merge in the window\n");
        return;
    }
    sleep(1);
    if (const char *grab = getenv("VARDOLUX_BENCH_GRAB"))
        spawnAndWait({grab, "merged.png"});
    rows->push_back(measure(sender, merged, seconds, receiver, true));
    rows->back().receiver = "Vardolux";
}

// The program's settings file in the run's own configuration folder: sACN on show and the watch
// list, read when it starts.
bool writeSacnSettings(const QString &configHome)
{
    if (!QDir().mkpath(configHome + QStringLiteral("/vardolux.example")))
        return false;
    QSaveFile file(configHome + QStringLiteral("/vardolux.example/Vardolux.conf"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("[sacn]\nprotocolOnShow=sacn\nuniverse=" + QByteArray::number(RecordedUniverse)
               + "\nwatchList=1-" + QByteArray::number(SacnUniverses) + "\n");
    return file.flush() && file.commit();
}

} // namespace

int main(int argc, char **argv)
{
    if (const int refused = BenchmarkRun::begin("bench_outside", &g_out))
        return refused;
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_outside PROGRAM [seconds per flood]\n");
        return 2;
    }
    const QByteArray program = argv[1];
    const double seconds = argc > 2 ? qBound(1.0, QByteArray(argv[2]).toDouble(), 60.0) : 10;
    const Flood floods[] = {{"1000 universes, 44,000/s", 1000, 44000},
                            {"3000 universes, 103,000/s", 3000, 103000},
                            {"3000 universes, flat out", 3000, 0}};

    SenderProcess sender;
    if (!sender.start(RecordedUniverse)) {
        std::perror("bench_outside: fork");
        return 1;
    }
    pinToCpu(0);
    std::vector<Row> rows;
    {
        const PlainReceiverThread plain;
        if (!plain.isRunning()) {
            std::fprintf(stderr, "bench_outside: %s\n", qPrintable(plain.errorString()));
            return 1;
        }
        for (const Flood &flood : floods) {
            rows.push_back(measure(sender, flood, seconds, getpid(), false));
            rows.back().receiver = "recvmmsg";
        }
    }
    rows.push_back(measurePlainSacn(sender, seconds));

    int displayNumber = -1;
    const pid_t display = startDisplay(&displayNumber);
    if (displayNumber < 0) {
        std::fprintf(stderr, "bench_outside: Xvfb did not start (package xvfb)\n");
        end(display);
        return 1;
    }
    const QByteArray displayName = ':' + QByteArray::number(displayNumber);
    QTemporaryDir home; // the program's settings stay out of the user's
    setenv("DISPLAY", displayName.constData(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("HOME", qPrintable(home.path()), 1);
    setenv("XDG_CONFIG_HOME", qPrintable(home.path()), 1);
    setenv("XDG_RUNTIME_DIR", qPrintable(home.path()), 1);
    const pid_t receiver = spawn({program});
    // Record (Ctrl+R) and Poll Mode (Ctrl+M) typed into its window, as a user would.
    const bool typed = xdotool(displayName, {"search", "--sync", "--onlyvisible", "--pid",
                                             QByteArray::number(receiver), "--name", "Vardolux",
                                             "windowfocus",
                                             "--sync", "key", "--delay", "200", "ctrl+r",
                                             "ctrl+m"});
    if (!typed) {
        std::fprintf(stderr, "bench_outside: could not type into the program's window "
                             "(package xdotool)\n");
    } else {
        sleep(1);
        for (const Flood &flood : floods) {
            rows.push_back(measure(sender, flood, seconds, receiver, true));
            rows.back().receiver = "Vardolux";
        }
        measureMerged(sender, floods[0], seconds, receiver, displayName, &rows);
    }
    end(receiver);

    // Started again with sACN on show and the watch list in its settings; Record typed.
    QByteArray sacnNote = "not run: the settings could not be written";
    if (typed && writeSacnSettings(home.path())) {
        const pid_t sacnReceiver = spawn({program});
        const bool recording = xdotool(displayName, {"search", "--sync", "--onlyvisible", "--pid",
                                                     QByteArray::number(sacnReceiver), "--name",
                                                     "Vardolux", "windowfocus", "--sync", "key",
                                                     "ctrl+r"});
        sleep(1);
        const int joined = joinedSacnGroups();
        if (recording && joined >= SacnUniverses) {
            rows.push_back(measure(sender, SacnFlood, seconds, sacnReceiver, false));
            rows.back().receiver = "Vardolux";
            sacnNote.clear();
        } else {
            sacnNote = "not run: the program joined " + QByteArray::number(joined) + " of the "
                    + QByteArray::number(SacnUniverses) + " groups (no sACN settings read?)";
        }
        end(sacnReceiver);
    }
    end(display);
    sender.stop();

    std::fprintf(g_out, "%g s per flood of 512-channel ArtDmx, paced datagram by datagram; the "
                        "program on an X display of its own, recording universe %d with Poll "
                        "Mode on, polled every %d ms\n\n",
                 seconds, RecordedUniverse, PollIntervalMs);
    std::fprintf(g_out, "| Receiver | Flood | Sent | CPU | Wake-ups | Dropped | Poll answered | "
                        "CPU by thread |\n|---|---|---|---|---|---|---|---|\n");
    for (const Row &row : rows)
        printRow(row);
    if (!sacnNote.isEmpty())
        std::fprintf(g_out, "| Vardolux | %s | %s |\n", SacnFlood.name, sacnNote.constData());
    std::fprintf(g_out, "\nsACN: the program with group \"sacn\", protocolOnShow=sacn, "
                        "universe=%d, watchList=1-%d in its settings, Record typed; the plain "
                        "loop with the same groups joined.\n",
                 RecordedUniverse, SacnUniverses);
    std::fprintf(g_out, "\nCPU: run time of all the receiver's threads over wall time; wake-ups: "
                        "their voluntary context switches.\nThe machine is shared: repeat and "
                        "take medians.\n");
    return typed ? 0 : 1;
}
