#ifndef SACNRECEIVER_H
#define SACNRECEIVER_H

#include "dmxsource.h"
#include "levelchoice.h"
#include "multicastmemberships.h"
#include "sacnsourceinfo.h"
#include "universetraffic.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>

#include <bitset>
#include <memory>

class CoalescingReader;
class DatagramReader;
class DatagramTap;
class DmxCensus;
class FollowedLevels;
class FrameHistory;
class NetworkChangeWatcher;
class SacnMerge;
class SacnSourceTable;
class SourceLevels;
class QTimer;
class QUdpSocket;
struct SacnMessage;

// The program's sACN (E1.31) receiver: one UDP socket bound to port 5568 (IPv4) that reads
// unicast and every multicast group the receiver follows, on the thread it lives on, through
// the batch reader with the datagrams' arrival times. Each datagram is decoded once; its frame
// feeds the census, its message the source table and, for the universe on show, the merge.
//
// It follows (joins 239.255.hi.lo on every multicast interface, again whenever the interfaces
// change) the universe on show, the universes of the watch list, every universe announced in
// universe discovery, and the discovery universe itself. The memberships go through as many
// joining sockets as the kernel's per-socket limit asks (MulticastMemberships). Sources send
// discovery every 10 s: a universe no discovery packet announced for 30 s is forgotten, and
// left unless it is watched or on show.
//
// Bounded whatever a network sends: the census's and source table's own bounds, at most
// MaxWatchedUniverses watched and MaxDiscoveredUniverses learnt from discovery; nothing is
// allocated per datagram (joining a newly announced universe is not per datagram).
class SacnReceiver : public QObject
{
public:
    static constexpr int MaxWatchedUniverses = 2048;
    static constexpr int MaxDiscoveredUniverses = 2048;
    static constexpr qint64 AnnouncementKeptMs = 30000; // three missed discovery rounds

    explicit SacnReceiver(QObject *parent = nullptr);
    ~SacnReceiver() override;

    // Binds port 5568 and joins the followed groups; true when the socket is open.
    bool open();
    void close();
    bool isOpen() const { return m_socket != nullptr; }
    // What sees every datagram read from the socket before the receiver does (null: none); kept
    // across closing and opening again. The receiver does not own it.
    void setDatagramTap(DatagramTap *tap);
    // The port could only be bound beside another program holding it with address reuse: the
    // kernel then hands unicast datagrams to one of the two.
    bool portShared() const { return m_portShared; }

    // The universe whose sources are merged (1-63999; 0 for none). A change starts a new merge
    // and a new history.
    void setUniverseOnShow(quint16 universe);
    quint16 universeOnShow() const { return m_universeOnShow; }
    // Whether preview data (options bit 0x80) takes part in the merge; it never does unless asked.
    void setPreviewAccepted(bool accept);
    // Universes followed besides the one on show (numbers outside 1-63999 are passed over; at
    // most MaxWatchedUniverses are kept).
    void setWatchList(const QList<quint16> &universes);
    QList<quint16> watchList() const;
    // Universes announced in universe discovery so far, ascending; and those beyond the bound.
    QList<quint16> discoveredUniverses() const;
    quint64 unlearntUniverses() const { return m_unlearntUniverses; }
    void forgetDiscoveredUniverses();
    // Announced in the last 30 s, yet no levels arrived for them in the last 2.5 s, ascending;
    // as of now, or of a time on the census clock.
    QList<quint16> announcedSilentUniverses() const;
    QList<quint16> announcedSilentUniverses(qint64 nowMs) const;
    // Forgets, and leaves unless still followed otherwise, the universes no discovery packet
    // announced for 30 s before nowMs (census clock); a timer does so every second.
    void forgetUnannouncedUniverses(qint64 nowMs);

    // The merged levels of the universe on show as of now, like artnet::readUniverse: *length
    // in, the buffer's size; out, the slots some live source drives. False without a universe.
    bool readUniverse(uchar *buffer, quint16 *length) const;
    // What readUniverse() and the history give: the merge (MergedPriorityHtp, the default),
    // the latest level packet of any source, or one source's frame.
    void setLevelChoice(const LevelChoice &choice) { m_levelChoice = choice; }
    // Each source's own levels of the universe on show, from the packets the merge took.
    const SourceLevels &sourceLevels() const { return *m_sourceLevels; }
    SourceLevels &sourceLevels() { return *m_sourceLevels; }
    // The merge as of nowNs with the source that gives each slot its level: an index into
    // sourceLevels(), -1 where none does.
    int mergeWithWinners(qint64 nowNs, uchar *levels, qint8 *winner) const;
    // The priority of a source of the universe on show's last packet; 0 when it takes no part.
    quint8 priorityOf(const SourceIdentity &source) const;
    // The chosen frame after every packet that changed it, with its arrival time, once asked for.
    void setFrameHistoryKept(bool keep);
    // Every level packet received is handed to it too (null: none); not owned.
    void setFollowedLevels(FollowedLevels *levels) { m_followedLevels = levels; }
    const FrameHistory *frameHistory() const { return m_historySink; }

    // Census readers, as of censusClockMs() (milliseconds since the receiver was made).
    qint64 censusClockMs() const;
    // The census clock at a datagram's arrival time (MonotonicClock).
    qint64 censusMs(qint64 arrivalNs) const { return (arrivalNs - m_censusStartNs) / 1'000'000; }
    QList<UniverseTraffic> universeTraffic() const;
    QList<DmxSource> dmxSources(quint16 universe) const;
    const DmxCensus *census() const { return m_census.get(); }
    QList<SacnSourceInfo> sources() const; // live ones, by universe
    quint64 malformedDmx() const;
    quint64 malformedFrom(quint32 sender) const;
    void forgetSilent();
    // Forgets every source and universe the census and the source table hold, and what they
    // counted.
    void clearCensus();

    // What following costs: groups, memberships (groups x interfaces) and joining sockets.
    const MulticastMemberships &memberships() const { return m_memberships; }
    quint64 datagramsRead() const { return m_datagramsRead; }

    // One datagram as the socket delivers it (the tests and fuzzers feed it directly).
    void handleDatagram(const QByteArray &datagram, const QHostAddress &sender, qint64 arrivalNs);
    // While a capture is played through handleDatagram(), what the socket reads is dropped (and
    // counted) and no group is joined or left for what the capture announces.
    void setPlayingCapture(bool playing);
    bool playingCapture() const { return m_playingCapture; }
    quint64 liveDatagramsDropped() const { return m_liveDatagramsDropped; }
    // Forgets every level, frame, source and universe received, as if none had arrived.
    void forgetReceived();
    // Reads the interfaces again and moves the memberships when they changed.
    void rejoin();

private:
    void readPending();
    void takeData(const SacnMessage &message, qint64 nowMs);
    void takeShown(const SacnMessage &message);
    int chosenLevels(qint64 nowNs, uchar *levels) const;
    void learnUniverses(const SacnMessage &message, qint64 nowMs);
    void updateGroups();
    bool isFollowed(quint16 universe) const;
    static quint32 groupOf(quint16 universe) { return 0xEFFF0000u | universe; }
    static QList<MulticastMemberships::Interface> multicastInterfaces();

    QUdpSocket *m_socket = nullptr;
    std::unique_ptr<DatagramReader> m_reader;
    DatagramTap *m_datagramTap = nullptr;
    std::unique_ptr<CoalescingReader> m_coalescingReader;
    MulticastMemberships m_memberships;
    std::unique_ptr<DmxCensus> m_census;
    FollowedLevels *m_followedLevels = nullptr;
    std::unique_ptr<SacnSourceTable> m_sources;
    std::unique_ptr<SacnMerge> m_merge; // for the universe on show
    std::unique_ptr<uchar[]> m_mergedLevels;
    std::unique_ptr<SourceLevels> m_sourceLevels; // of the universe on show
    LevelChoice m_levelChoice = LevelChoice::of(LevelChoice::Kind::MergedPriorityHtp);
    std::unique_ptr<FrameHistory> m_frameHistory;
    FrameHistory *m_historySink = nullptr;
    // A universe learnt from discovery and when it was last announced, in slots 0 to
    // m_discoveredCount - 1, found through m_discoveredSlot (universe -> slot + 1, 0 = none).
    struct DiscoveredUniverse
    {
        quint16 universe = 0;
        qint64 announcedMs = 0;
    };
    std::bitset<65536> m_watched;
    std::unique_ptr<quint16[]> m_discoveredSlot;
    std::unique_ptr<DiscoveredUniverse[]> m_discovered;
    int m_watchedCount = 0;
    int m_discoveredCount = 0;
    quint64 m_unlearntUniverses = 0;
    quint64 m_datagramsRead = 0;
    quint64 m_liveDatagramsDropped = 0;
    bool m_playingCapture = false;
    qint64 m_censusStartNs = 0;
    quint16 m_universeOnShow = 0;
    bool m_portShared = false;
    bool m_previewAccepted = false;
    NetworkChangeWatcher *m_networkWatcher = nullptr;
    QTimer *m_rejoinTimer = nullptr; // gathers a burst of change messages into one scan
    QTimer *m_announcementTimer = nullptr;
};

#endif // SACNRECEIVER_H
