#include "floodprocess.h"

#include "benchmarkrun.h"
#include "benchnetwork.h"
#include "floodsender.h"
#include "privatenetwork.h"
#include "testpackets.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace FloodProcess {

namespace {

// What the parent asks of the sender process; it answers with a Report.
struct Command
{
    double rate = 0; // 0: flat out
    double seconds = 0;
    int universes = 1000;
    quint16 watchedUniverse = 0;
    quint16 firstUniverse = 1;
    Traffic traffic = Traffic::ArtNet;
    bool poll = false;
    bool quit = false;
};

using BenchmarkRun::median;

// In the sender process: an ArtPoll to the receiver every 100 ms from port 6454 of the peer,
// each waiting up to 500 ms for the ArtPollReply; latencies in milliseconds.
void pollUntilStopped(int fd, const std::atomic<bool> &stop, std::vector<double> *latencies,
                      int *polls)
{
    const QByteArray artPoll = TestPackets::artPoll(0x00);
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = htons(BenchNetwork::ArtNetPort);
    inet_pton(AF_INET, PrivateNetwork::LocalAddress, &target.sin_addr);
    const timeval wait = {0, 20 * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    uchar reply[2048];
    while (!stop.load() && *polls < MaxPolls) {
        QElapsedTimer clock;
        clock.start();
        ++*polls;
        ::sendto(fd, artPoll.constData(), size_t(artPoll.size()), 0, reinterpret_cast<const sockaddr *>(&target),
                 sizeof target);
        bool answered = false;
        while (!answered && clock.elapsed() < 500) {
            const ssize_t length = ::recv(fd, reply, sizeof reply, 0);
            if (length >= 10 && std::memcmp(reply, "Art-Net", 8) == 0 && reply[8] == 0x00
                && reply[9] == 0x21) {
                latencies->push_back(double(clock.nsecsElapsed()) / 1e6);
                answered = true;
            }
        }
        const qint64 rest = PollIntervalMs - clock.elapsed();
        if (rest > 0)
            usleep(useconds_t(rest * 1000));
    }
}

[[noreturn]] void senderProcess(int commands, int reports)
{
    pinToCpu(1);
    // Even pacing sleeps some 20 us between datagrams; the default 50 us slack would bunch them.
    prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
    QString error;
    const int fd = PrivateNetwork::peerSenderSocket(QString(), 0, &error);
    // The poller sends from port 6454, as nodes and controllers do.
    const int pollFd = fd < 0 ? -1
                              : PrivateNetwork::peerSenderSocket(QString(), BenchNetwork::ArtNetPort,
                                                                 &error);
    const int sacnFd = pollFd < 0 ? -1 : PrivateNetwork::peerSenderSocket(QString(), 0, &error);
    if (fd < 0 || pollFd < 0 || sacnFd < 0) {
        std::fprintf(stderr, "bench_flood sender: %s\n", qPrintable(error));
        _exit(1);
    }
    FloodSender sender(fd, PrivateNetwork::LocalAddress, BenchNetwork::ArtNetPort);
    FloodSender sacnSender(sacnFd, PrivateNetwork::LocalAddress, BenchNetwork::ArtNetPort);
    Command command;
    while (read(commands, &command, sizeof command) == ssize_t(sizeof command) && !command.quit) {
        FloodSender::Plan plan;
        plan.universes = command.universes;
        plan.firstUniverse = command.firstUniverse;
        plan.rate = command.rate;
        plan.seconds = command.seconds;
        plan.watchedUniverse = command.watchedUniverse;
        plan.evenlySpaced = true;
        std::atomic<bool> stopPolling{false};
        std::vector<double> latencies;
        latencies.reserve(MaxPolls);
        Report report;
        std::thread poller;
        if (command.poll)
            poller = std::thread(pollUntilStopped, pollFd, std::cref(stopPolling), &latencies,
                                 &report.polls);
        FloodSender::Plan sacnPlan = plan;
        sacnPlan.sacn = true;
        std::thread sacnThread;
        if (command.traffic == Traffic::ArtNetAndSacn)
            sacnThread = std::thread([&] { sacnSender.run(sacnPlan); });
        FloodSender &first = command.traffic == Traffic::Sacn ? sacnSender : sender;
        report.sent = first.run(command.traffic == Traffic::Sacn ? sacnPlan : plan);
        report.seconds = first.secondsTaken();
        if (sacnThread.joinable()) {
            sacnThread.join();
            report.sent += sacnSender.sent();
        }
        stopPolling = true;
        if (poller.joinable())
            poller.join();
        report.answered = int(latencies.size());
        report.pollMedianMs = median(latencies);
        report.pollWorstMs = latencies.empty()
                                 ? 0
                                 : *std::max_element(latencies.begin(), latencies.end());
        if (write(reports, &report, sizeof report) != ssize_t(sizeof report))
            break;
    }
    _exit(0);
}

} // namespace

void pinToCpu(int cpu)
{
    if (std::thread::hardware_concurrency() < 2)
        return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

bool SenderProcess::start(quint16 watchedUniverse)
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
    m_watchedUniverse = watchedUniverse;
    return true;
}

Report SenderProcess::send(double rate, double seconds, bool poll, bool runEventLoop,
                           int universes, quint16 firstUniverse, Traffic traffic)
{
    Command command;
    command.rate = rate;
    command.seconds = seconds;
    command.poll = poll;
    command.universes = universes;
    command.firstUniverse = firstUniverse;
    command.traffic = traffic;
    command.watchedUniverse = m_watchedUniverse;
    Report report;
    if (m_pid <= 0 || write(m_commands, &command, sizeof command) != ssize_t(sizeof command))
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

void SenderProcess::stop()
{
    if (m_pid <= 0)
        return;
    Command command;
    command.quit = true;
    if (write(m_commands, &command, sizeof command) != ssize_t(sizeof command))
        kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
    ::close(m_commands);
    ::close(m_reports);
    m_pid = -1;
}

} // namespace FloodProcess
