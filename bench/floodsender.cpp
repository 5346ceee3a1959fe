#include "floodsender.h"
#include "artnetpackets.h"
#include "sacnpackets.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace ArtNetPackets;

namespace {

constexpr uchar Mark[4] = {0xDE, 0xAD, 0xBE, 0xEF};

quint16 portAddressOf(quint16 universe)
{
    return quint16(universe - 1);
}

} // namespace

FloodSender::FloodSender(int fd, const QByteArray &target, quint16 port)
    : m_fd(fd), m_target(target), m_port(port)
{
}

void FloodSender::writeArtDmx(uchar *packet, quint16 universe, quint32 round)
{
    writeArtDmxHeader(packet, portAddressOf(universe), Dmx::MaxChannels);
    for (int i = 0; i < Dmx::MaxChannels; ++i)
        packet[Dmx::Data + i] = quint8(7 * round + quint32(i));
}

void FloodSender::writeSacn(uchar *packet, quint16 universe, quint32 round)
{
    static_assert(SacnPacketSize == SacnPackets::Dmp::MaxSize);
    uchar levels[Dmx::MaxChannels];
    for (int i = 0; i < Dmx::MaxChannels; ++i)
        levels[i] = quint8(7 * round + quint32(i));
    SacnPackets::DataHeader header;
    header.cid.fill(0xF1);
    header.sourceName = QByteArrayLiteral("Flood");
    header.sequence = quint8(round);
    header.universe = universe;
    SacnPackets::writeDataPacket(packet, header, levels, Dmx::MaxChannels);
}

bool FloodSender::isWatchedPattern(const uchar *levels, int length, int *round)
{
    if (length != Dmx::MaxChannels)
        return false;
    for (int i = 1; i < length; ++i)
        if (levels[i] != quint8(levels[0] + i))
            return false;
    if (round) {
        // 7 is invertible modulo 256 (7 * 183 = 1281 = 5 * 256 + 1).
        *round = quint8(levels[0] * 183);
    }
    return true;
}

bool FloodSender::isMark(const uchar *levels, int length)
{
    return length >= 4 && std::memcmp(levels, Mark, sizeof Mark) == 0;
}

bool FloodSender::sendMark(quint16 universe)
{
    uchar packet[PacketSize] = {};
    writeArtDmxHeader(packet, portAddressOf(universe), Dmx::MaxChannels);
    std::memcpy(packet + Dmx::Data, Mark, sizeof Mark);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_port);
    inet_pton(AF_INET, m_target.constData(), &address.sin_addr);
    return ::sendto(m_fd, packet, sizeof packet, 0, reinterpret_cast<const sockaddr *>(&address),
                    sizeof address)
           == PacketSize;
}

quint64 FloodSender::run(const Plan &plan, const std::atomic<bool> *stop)
{
    const int universes = qMax(1, plan.universes);
    const size_t packetSize = plan.sacn ? SacnPacketSize : PacketSize;
    std::vector<uchar> packets(size_t(universes) * packetSize);
    std::vector<sockaddr_in> addresses(plan.sacn ? size_t(universes) : 1);
    for (sockaddr_in &address : addresses) {
        address = sockaddr_in();
        address.sin_family = AF_INET;
        address.sin_port = htons(m_port);
        inet_pton(AF_INET, m_target.constData(), &address.sin_addr);
    }
    for (int u = 0; u < universes; ++u) {
        const quint16 universe = quint16(plan.firstUniverse + u);
        if (plan.sacn) {
            writeSacn(packets.data() + size_t(u) * packetSize, universe, 0);
            addresses[size_t(u)].sin_port = htons(SacnPackets::Port);
            addresses[size_t(u)].sin_addr.s_addr = htonl(0xEFFF0000u | universe);
        } else {
            writeArtDmx(packets.data() + size_t(u) * packetSize, universe, 0);
        }
    }
    const int watchedIndex = plan.watchedUniverse >= plan.firstUniverse
                                     && plan.watchedUniverse - plan.firstUniverse < universes
                                 ? plan.watchedUniverse - plan.firstUniverse
                                 : -1;

    mmsghdr messages[BatchSize];
    iovec vectors[BatchSize];

    m_sent = 0;
    quint64 sequence = 0;
    QElapsedTimer clock;
    clock.start();
    const qint64 limitNs = qint64(plan.seconds * 1e9);
    for (;;) {
        if (stop && stop->load(std::memory_order_relaxed))
            break;
        const qint64 elapsedNs = clock.nsecsElapsed();
        if (elapsedNs >= limitNs)
            break;
        if (plan.count && sequence >= plan.count)
            break;
        quint64 due = plan.rate > 0 ? quint64(plan.rate * double(elapsedNs) / 1e9)
                                    : sequence + BatchSize;
        if (plan.count)
            due = qMin(due, plan.count);
        while (sequence < due) {
            const int batch = int(qMin<quint64>(BatchSize, due - sequence));
            for (int i = 0; i < batch; ++i) {
                const int index = int((sequence + quint64(i)) % quint64(universes));
                const quint32 round = quint32((sequence + quint64(i)) / quint64(universes));
                uchar *packet = packets.data() + size_t(index) * packetSize;
                if (index == watchedIndex && plan.sacn)
                    writeSacn(packet, plan.watchedUniverse, round);
                else if (index == watchedIndex)
                    writeArtDmx(packet, plan.watchedUniverse, round);
                else if (plan.sacn) // a receiver drops a packet numbered as the one before
                    packet[SacnPackets::DataFraming::Sequence] = quint8(round);
                vectors[i].iov_base = packet;
                vectors[i].iov_len = packetSize;
                messages[i] = mmsghdr();
                messages[i].msg_hdr.msg_name = &addresses[plan.sacn ? size_t(index) : 0];
                messages[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
                messages[i].msg_hdr.msg_iov = &vectors[i];
                messages[i].msg_hdr.msg_iovlen = 1;
            }
            int done = 0;
            while (done < batch) {
                const int n = ::sendmmsg(m_fd, messages + done, unsigned(batch - done), 0);
                if (n < 0) {
                    if (errno == EINTR)
                        continue;
                    // ENOBUFS and the like: the datagram is lost on our side; count it as not
                    // sent and go on.
                    ++done;
                    continue;
                }
                done += n;
                m_sent += quint64(n);
            }
            sequence += quint64(batch);
        }
        if (plan.rate > 0 && plan.evenlySpaced) {
            const qint64 nextDueNs = qint64(double(sequence + 1) * 1e9 / plan.rate);
            const qint64 waitNs = qBound(qint64(0), nextDueNs - clock.nsecsElapsed(), qint64(200 * 1000));
            const timespec pause = {0, long(waitNs)};
            if (waitNs > 0)
                nanosleep(&pause, nullptr);
        } else if (plan.rate > 0) {
            const timespec pause = {0, 200 * 1000};
            nanosleep(&pause, nullptr);
        }
    }
    m_secondsTaken = double(clock.nsecsElapsed()) / 1e9;
    return m_sent.load();
}
