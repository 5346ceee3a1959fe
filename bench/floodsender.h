#ifndef FLOODSENDER_H
#define FLOODSENDER_H

#include "artnetpackets.h"

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <vector>

// Sends ArtDmx packets of 512 channels with sendmmsg(), round-robin over a range of universes,
// either flat out or paced to a rate, always bounded in count and time; or sACN data packets of
// 512 levels, each to its universe's multicast group, numbered round by round as a source does. It stands in for the
// consoles of a large show. One universe can be "watched": its levels follow a pattern that
// changes with every round, so a receiver can tell a whole, current frame from a torn or stale
// one (see isWatchedPattern()).
class FloodSender
{
public:
    struct Plan
    {
        quint16 firstUniverse = 1; // 1-based, as the user sees it
        int universes = 1000;
        double rate = 0;           // datagrams per second; 0 is flat out
        quint64 count = 0;         // stop after this many; 0 is no limit but the time
        double seconds = 10;       // stop after this long in any case
        quint16 watchedUniverse = 0;
        // Paced datagram by datagram at even intervals, as a console's output reaches the
        // network, instead of in bursts every 200 us; costs the sender a wake-up per datagram.
        bool evenlySpaced = false;
        bool sacn = false;
    };

    static constexpr int PacketSize = ArtNetPackets::Dmx::MaxSize;
    static constexpr int SacnPacketSize = 638; // the root, framing and DMP layers and 512 levels
    static constexpr int BatchSize = 64;

    // fd: a blocking UDP socket (FloodSender does not own it); target: IPv4 text.
    FloodSender(int fd, const QByteArray &target, quint16 port);

    // Blocks until the plan is done or stop becomes true. Returns the number sent.
    quint64 run(const Plan &plan, const std::atomic<bool> *stop = nullptr);

    // Sends the end mark (levels DE AD BE EF ...) to a universe once.
    bool sendMark(quint16 universe);
    static bool isMark(const uchar *levels, int length);

    quint64 sent() const { return m_sent.load(); }
    double secondsTaken() const { return m_secondsTaken; }

    // ArtDmx for a 1-based universe; the levels of round r are (7 r + i) & 0xFF.
    static void writeArtDmx(uchar *packet, quint16 universe, quint32 round);
    // The same levels as an sACN data packet of that round's sequence number.
    static void writeSacn(uchar *packet, quint16 universe, quint32 round);
    // True when the levels are one whole frame of that pattern; round modulo 256 in *round.
    static bool isWatchedPattern(const uchar *levels, int length, int *round = nullptr);

private:
    int m_fd;
    QByteArray m_target;
    quint16 m_port;
    std::atomic<quint64> m_sent{0};
    double m_secondsTaken = 0;
};

#endif // FLOODSENDER_H
