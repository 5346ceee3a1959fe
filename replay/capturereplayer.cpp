#include "capturereplayer.h"

#include "capturefilereader.h"
#include "interfacelist.h"
#include "multicastinterfaces.h"
#include "replayselection.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkInterface>

#include <algorithm>
#include <array>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr quint16 ArtNetPort = 6454;
// How long the pacing sleeps at most before it looks whether it is to stop.
constexpr qint64 StopCheckNs = 2'000'000;
// As many distinct destinations as the status names of a capture sent where it was sent.
constexpr int MaximumNamedDestinations = 4;
// A loop of one datagram repeats it at this spacing rather than without pause.
constexpr qint64 SmallestLoopSpacingNs = 1'000'000;

qint64 monotonicNs()
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

sockaddr_in socketAddress(quint32 address, quint16 port)
{
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl(address);
    return target;
}

bool isMulticast(quint32 address)
{
    return (address >> 28) == 0xE;
}

} // namespace

struct CaptureReplayer::Plan
{
    QString path;
    CaptureFileReader reader;
    ReplaySelection selection;
    bool loop = false;
    int socket = -1;
    std::vector<sockaddr_in> artNetTargets; // empty: the captured destination
    std::vector<ip_mreqn> sacnInterfaces;   // empty: the kernel's route
    int multicastInterface = -1;            // the one IP_MULTICAST_IF names now
    qint64 firstNs = 0;
    qint64 lastNs = 0;
    quint64 datagrams = 0;
    int sendErrno = 0;
    bool sendErrorSaid = false;

    ~Plan()
    {
        if (socket >= 0)
            ::close(socket);
    }

    QStringList chooseTargets(const QList<InterfaceEntry> &networks);
    void transmit(const CapturedDatagram &datagram, ReplaySelection::Protocol protocol);
    void sendTo(const quint8 *payload, int length, const sockaddr_in &target);
};

void CaptureReplayer::Plan::sendTo(const quint8 *payload, int length, const sockaddr_in &target)
{
    if (::sendto(socket, payload, size_t(length), 0, reinterpret_cast<const sockaddr *>(&target),
                 sizeof target)
        < 0)
        sendErrno = errno;
}

void CaptureReplayer::Plan::transmit(const CapturedDatagram &datagram,
                                     ReplaySelection::Protocol protocol)
{
    if (protocol == ReplaySelection::Protocol::ArtNet) {
        if (artNetTargets.empty()) {
            sendTo(datagram.payload, datagram.payloadLength,
                   socketAddress(datagram.destinationAddress, ArtNetPort));
            return;
        }
        for (const sockaddr_in &target : artNetTargets)
            sendTo(datagram.payload, datagram.payloadLength, target);
        return;
    }
    const sockaddr_in target = socketAddress(datagram.destinationAddress, datagram.destinationPort);
    if (sacnInterfaces.empty() || !isMulticast(datagram.destinationAddress)) {
        sendTo(datagram.payload, datagram.payloadLength, target);
        return;
    }
    for (int i = 0; i < int(sacnInterfaces.size()); ++i) {
        // One interface named once: the common case of one network costs no extra system call.
        if (i != multicastInterface)
            ::setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF, &sacnInterfaces[size_t(i)],
                         sizeof(ip_mreqn));
        multicastInterface = i;
        sendTo(datagram.payload, datagram.payloadLength, target);
    }
}

// Art-Net to each network's directed broadcast, sACN out of each network's interface; returns
// the broadcast addresses, as the status names them.
QStringList CaptureReplayer::Plan::chooseTargets(const QList<InterfaceEntry> &networks)
{
    QStringList destinations;
    const QList<QHostAddress> broadcasts = InterfaceList::broadcastAddresses(networks);
    for (const QHostAddress &broadcast : broadcasts) {
        artNetTargets.push_back(socketAddress(broadcast.toIPv4Address(), ArtNetPort));
        destinations << broadcast.toString();
    }
    const QList<MulticastInterfaces::Address> multicast = MulticastInterfaces::addresses();
    for (const MulticastInterfaces::Address &address : multicast) {
        const bool chosen = std::any_of(networks.cbegin(), networks.cend(),
                                        [&](const InterfaceEntry &entry) {
                                            return entry.address.ip().toIPv4Address() == address.address;
                                        });
        if (!chosen)
            continue;
        ip_mreqn leaving = {};
        leaving.imr_address.s_addr = htonl(address.address);
        leaving.imr_ifindex = address.index;
        sacnInterfaces.push_back(leaving);
    }
    return destinations;
}

CaptureReplayer::~CaptureReplayer()
{
    stop();
}

QList<InterfaceEntry> CaptureReplayer::availableNetworks()
{
    QList<InterfaceEntry> networks;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        if (!interface.flags().testFlag(QNetworkInterface::IsUp))
            continue;
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const InterfaceList::Verdict verdict = InterfaceList::judge(entry, interface.hardwareAddress());
            if (verdict.accepted && !entry.broadcast().isNull())
                networks.append(verdict.entry);
        }
    }
    return networks;
}

bool CaptureReplayer::start(const Options &options, QString *error)
{
    stop();
    auto plan = std::make_unique<Plan>();
    plan->path = options.path;
    plan->selection = ReplaySelection(options.universes);
    plan->loop = options.loop;
    if (!plan->reader.open(options.path)) {
        *error = plan->reader.errorString();
        return false;
    }
    plan->socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (plan->socket < 0) {
        *error = QObject::tr("No socket to send from: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const int on = 1;
    ::setsockopt(plan->socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    // Nothing is read here: what the network sends to this port needs no more room than that.
    const int smallest = 0;
    ::setsockopt(plan->socket, SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);

    const QStringList destinations = plan->chooseTargets(options.networks);

    {
        QMutexLocker locker(&m_mutex);
        m_error.clear();
        m_destinations = destinations;
    }
    m_stop = false;
    m_offsetNs = 0;
    m_durationNs = -1;
    m_pass = 1;
    m_sent = 0;
    m_running = true;
    m_thread = std::thread([this, owned = plan.release()] {
        std::unique_ptr<Plan> held(owned);
        run(held.get());
        m_running = false;
    });
    return true;
}

void CaptureReplayer::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

CaptureReplayer::Progress CaptureReplayer::progress() const
{
    Progress progress;
    progress.running = m_running;
    progress.offsetNs = m_offsetNs;
    progress.durationNs = m_durationNs;
    progress.pass = m_pass;
    progress.sent = m_sent;
    return progress;
}

QString CaptureReplayer::errorString() const
{
    QMutexLocker locker(&m_mutex);
    return m_error;
}

QStringList CaptureReplayer::destinations() const
{
    QMutexLocker locker(&m_mutex);
    return m_destinations;
}

void CaptureReplayer::fail(const QString &error)
{
    QMutexLocker locker(&m_mutex);
    if (m_error.isEmpty())
        m_error = error;
}

void CaptureReplayer::run(Plan *plan)
{
    if (!survey(plan))
        return;
    const qint64 durationNs = plan->lastNs - plan->firstNs;
    const qint64 spacingNs = plan->datagrams > 1 ? durationNs / qint64(plan->datagrams - 1) : 0;
    const qint64 passNs = durationNs + qMax(spacingNs, SmallestLoopSpacingNs);
    qint64 passStartNs = 0;
    while (sendPass(plan, &passStartNs) && plan->loop && !m_stop) {
        passStartNs += passNs;
        ++m_pass;
    }
}

// The first pass: the timeline's start and length, and, for a capture sent where it was sent,
// the addresses it went to.
bool CaptureReplayer::survey(Plan *plan)
{
    // Addresses, not their texts, while the file is read: a capture holds millions of datagrams.
    std::array<quint32, MaximumNamedDestinations> captured = {};
    int capturedCount = 0;
    CapturedDatagram datagram;
    while (!m_stop && plan->reader.readNext(&datagram)) {
        if (plan->selection.choose(datagram) == ReplaySelection::Protocol::None)
            continue;
        if (plan->datagrams++ == 0)
            plan->firstNs = plan->lastNs = datagram.timeNs;
        plan->lastNs = qMax(plan->lastNs, datagram.timeNs);
        const auto end = captured.begin() + capturedCount;
        if (plan->artNetTargets.empty() && capturedCount < MaximumNamedDestinations
            && std::find(captured.begin(), end, datagram.destinationAddress) == end)
            captured[size_t(capturedCount++)] = datagram.destinationAddress;
    }
    if (m_stop)
        return false;
    if (!plan->reader.errorString().isEmpty() && plan->datagrams == 0) {
        fail(plan->reader.errorString());
        return false;
    }
    if (plan->datagrams == 0) {
        fail(QObject::tr("%1 holds no Art-Net or sACN data of the chosen universes")
                     .arg(QFileInfo(plan->path).fileName()));
        return false;
    }
    if (plan->artNetTargets.empty()) {
        QStringList destinations;
        for (int index = 0; index < capturedCount; ++index)
            destinations << QHostAddress(captured[size_t(index)]).toString();
        QMutexLocker locker(&m_mutex);
        m_destinations = destinations;
    }
    m_durationNs = plan->lastNs - plan->firstNs;
    return true;
}

// False when the replay is to end: stopped, or the file could not be read again. A start of 0
// is the first pass's: now, once the file is open again, so that opening it delays nothing.
bool CaptureReplayer::sendPass(Plan *plan, qint64 *passStartNs)
{
    if (!plan->reader.open(plan->path)) {
        fail(plan->reader.errorString());
        return false;
    }
    if (*passStartNs == 0)
        *passStartNs = monotonicNs();
    CapturedDatagram datagram;
    while (plan->reader.readNext(&datagram)) {
        const ReplaySelection::Protocol protocol = plan->selection.choose(datagram);
        if (protocol == ReplaySelection::Protocol::None)
            continue;
        const qint64 offsetNs = datagram.timeNs - plan->firstNs;
        if (!waitUntil(*passStartNs + offsetNs))
            return false;
        plan->transmit(datagram, protocol);
        // Said once: a network that refuses every datagram costs no text per datagram.
        if (plan->sendErrno != 0 && !plan->sendErrorSaid) {
            fail(QObject::tr("Sending failed: %1").arg(QString::fromLocal8Bit(std::strerror(plan->sendErrno))));
            plan->sendErrorSaid = true;
        }
        m_offsetNs = offsetNs;
        ++m_sent;
    }
    if (!plan->reader.errorString().isEmpty()) {
        fail(plan->reader.errorString());
        return false;
    }
    return true;
}

// Sleeps to the deadline in steps short enough to notice a stop; false when stopped.
bool CaptureReplayer::waitUntil(qint64 deadlineNs) const
{
    for (;;) {
        if (m_stop)
            return false;
        const qint64 nowNs = monotonicNs();
        if (nowNs >= deadlineNs)
            return true;
        const qint64 wakeNs = qMin(deadlineNs, nowNs + StopCheckNs);
        timespec wake = {};
        wake.tv_sec = time_t(wakeNs / 1'000'000'000);
        wake.tv_nsec = long(wakeNs % 1'000'000'000);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr);
    }
}
