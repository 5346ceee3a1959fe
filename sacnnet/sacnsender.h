#ifndef SACNSENDER_H
#define SACNSENDER_H

#include "sacnpackets.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>

class QTimer;

// The program as an sACN (E1.31) source of one universe: its levels as data packets with start
// code 0 to the universe's group 239.255.hi.lo, port 5568, once on every multicast interface
// (those the receiver joins on), repeated every 500 ms until stop(), which ends the stream with
// three stream-terminated packets as E1.31 asks so that receivers let go at once rather than
// after 2.5 s. The CID is the computer's own, the same for every sender and every run.
//
// A repeat rewrites the prepared packet in place and sends it with sendto(): nothing is
// allocated per packet.
class SacnSender : public QObject
{
public:
    static constexpr int RepeatMs = 500;
    static constexpr int TerminatedPackets = 3;
    static constexpr int DefaultPriority = 100;

    explicit SacnSender(QObject *parent = nullptr);
    ~SacnSender() override;

    // UTF-8, cut to 63 bytes on a character boundary (the field keeps its terminating zero).
    void setSourceName(const QString &name);
    QString sourceName() const;
    // Clamped to 0-200, the range E1.31 allows; taken by the next packet, repeats included.
    void setPriority(int priority);
    int priority() const { return m_header.priority; }

    // Sends the levels (1-512 slots) of a universe (1-63999) now and repeats them until stop().
    // Another universe than the one being sent ends that stream first. Returns the datagram's
    // size, or -1 when nothing went out. Levels or a universe out of range change nothing; a
    // send that failed on every interface is still repeated, for a link that comes up later.
    qint64 send(const QByteArray &levels, quint16 universe);
    // Ends the stream: three stream-terminated packets, then silence.
    void stop();
    quint16 sendingUniverse() const { return m_sending ? m_header.universe : quint16(0); }
    // The networks the packets reach, as "192.168.1.0/24": those of every interface sent on,
    // or the group's address where no interface was found and the kernel's routes chose.
    QStringList sendNetworks() const { return m_sending ? m_networks : QStringList(); }
    // Data packets sent since the sender was made, each counted once whatever the interfaces.
    quint64 packetsSent() const { return m_packetsSent; }

    // A name-based UUID of the computer's machine id in this program's own namespace: stable
    // without a setting, and another on every computer.
    static SacnPackets::Cid machineCid();

private:
    struct Route
    {
        int index = 0;       // 0: the kernel chooses
        quint32 address = 0;
    };

    bool openSocket();
    void chooseRoutes();
    qint64 transmit(quint8 options);
    void repeat();
    void terminate();

    int m_socket = -1;
    QTimer *m_repeatTimer = nullptr;
    SacnPackets::DataHeader m_header;
    std::array<uchar, SacnPackets::Dmp::MaxSize> m_packet = {};
    std::array<uchar, SacnPackets::Dmp::MaxPropertyCount - 1> m_levels = {};
    quint16 m_count = 0;
    bool m_sending = false;
    QList<Route> m_routes;
    QStringList m_networks;
    quint64 m_packetsSent = 0;
};

#endif // SACNSENDER_H
