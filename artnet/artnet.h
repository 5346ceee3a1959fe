#ifndef ARTNET_H
#define ARTNET_H

#include "artnetpackets.h"
#include "dmxsource.h"
#include "levelchoice.h"
#include "interfaceentry.h"
#include "nodeinfo.h"
#include "timecodesource.h"
#include "universetraffic.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class CoalescingReader;
class DmxCensus;
class DatagramReader;
class DatagramTap;
class NetworkChangeWatcher;
class FollowedLevels;
class FrameHistory;
class SourceLevels;
class NodeTable;
class TrafficCensus;
class QColor;
class QMutex;
class QTimer;
class QUdpSocket;
namespace ArtNetPackets {
struct PollReplyNode;
}

// The program's Art-Net node: one UDP socket on port 6454 that receives ArtDmx for one
// universe, answers ArtPoll, tracks time code and sync, and sends ArtDmx.
// Universe numbers in this interface are 1-based (port-address + 1) unless a parameter says
// SubUni/Net.
class artnet : public QObject
{
    Q_OBJECT

public:
    artnet();
    ~artnet() override;

    // Socket and reception
    bool openSocket();
    // The port could only be bound beside another program that holds it with address reuse:
    // the kernel then hands unicast datagrams to one of the two, not to both.
    bool portShared() const { return m_socketOpen && m_portShared; }
    void closeSocket();
    // What sees every datagram read from the socket before the engine does (null: none); kept
    // across the socket's closing and opening again. The engine does not own it.
    void setDatagramTap(DatagramTap *tap);
    bool startReceiving();
    void stopReceiving();
    bool receiving() const { return m_receiving; }
    bool setReceiveUniverse(quint16 universe);
    bool readUniverse(uchar *buffer, quint16 *length);
    void handleDatagram(const QByteArray &datagram, const QHostAddress &sender);
    // The same for a datagram that arrived at arrivalNs (MonotonicClock): the frame history and
    // the census keep that time, not the time the datagram is handled.
    void handleDatagramArrivedAt(const QByteArray &datagram, const QHostAddress &sender,
                                 qint64 arrivalNs);
    // While a capture is played through handleDatagramArrivedAt(), what the socket reads is
    // dropped (and counted) and no poll is answered: nothing goes out because of a played packet.
    void setPlayingCapture(bool playing) { m_playingCapture = playing; }
    bool playingCapture() const { return m_playingCapture; }
    quint64 liveDatagramsDropped() const { return m_liveDatagramsDropped; }
    // Forgets every level, frame, source, node and time code received, as if none had arrived.
    void forgetReceived();
    QString interfaceAddress(int index) const;
    // An ArtDmx (identifier and opcode already checked) that holds its whole header and as many
    // data bytes as its Length says; any other is passed over.
    static bool isWholeArtDmx(const QByteArray &datagram);
    // ArtDmx passed over since the engine was made because they were cut inside their header
    // or carried fewer data bytes than their Length claims.
    quint64 incompleteDmxCount() const { return m_malformedDmxPassedOver; }

    // Interface discovery
    bool discoverInterfaces();
    // Reads the interfaces again (after a network change, or for a poll from a subnet that no
    // known interface matches); writes the discovery messages only when the list changed, and
    // returns whether it did.
    bool rediscoverInterfaces();

    // DMX output. Results: datagram size, -1 failure, -2 no data, -3 zero length,
    // 0 for universe 0.
    qint64 sendDmx(const uchar *data, quint16 length, quint16 universe,
                   const QHostAddress *target = nullptr);
    qint64 sendArtDmx(const uchar *data, quint16 length, quint8 subUni, quint8 net,
                      const QHostAddress *target = nullptr);
    bool startSending();
    void stopSending();
    qint64 sendDatagram(const char *data, quint16 length, const QHostAddress *target = nullptr);
    // The networks the repeated ArtDmx reaches, as "192.168.1.0/24" (those of the limited
    // broadcast first), and its 1-based universe; empty and 0 while nothing is repeated.
    QStringList sendNetworks() const;
    quint16 sendingUniverse() const;

    // Poll and poll reply
    bool setPollMode(bool on);
    void sendPollReply(const QHostAddress &poller);
    static void parseMacAddress(QString text, uchar *mac);
    qint64 sendPoll();

    // Time code, sync and data sinks
    void setRecordBuffer(uchar *buffer, uint size, quint16 universeStride);
    void recordBuffer(uchar **buffer, uint *size) const;
    void setColorTarget(QColor *colors, uint count, quint16 channelsPerUniverse);
    void applySync();
    bool timeCodeSource(TimeCodeSource *source, QHostAddress *sender, int index);
    qint64 sendTimeCode(const quint8 *timeCode, const QHostAddress *target = nullptr);
    void copyToRecordBuffer(const uchar *packet);
    void copyToColors(const uchar *packet);
    // Copies min(size, record buffer size) bytes of the record buffer under the engine's lock,
    // for a reader on another thread; false when no record buffer is installed.
    bool copyRecordBuffer(uchar *out, uint size) const;

    // Every frame of the receive universe with its arrival time (FrameHistory), kept while
    // receiving once asked for; a universe change or stopReceiving() starts a new history.
    void setFrameHistoryKept(bool keep);
    const FrameHistory *frameHistory() const { return m_historySink; }
    // Each source's own levels of the receive universe, kept from now on whether receiving or
    // only listening; a universe change starts them over. The history then keeps what the
    // choice picks at every frame of the universe (LatestPacket: the frame itself).
    void setSourceLevelsKept(bool keep);
    SourceLevels *sourceLevels() const { return m_sourceLevels.get(); }
    void setHistoryChoice(const LevelChoice &choice) { m_historyChoice = choice; }
    // Traffic census and node list. The census counts while the engine receives, or while it
    // is enabled here (the network view open) without changing what readUniverse follows;
    // both open the socket. Node polling sends an ArtPoll every 3 s to every interface's
    // broadcast address. The readers return copies as of censusClockMs(), the milliseconds
    // since the engine was made; call them on the engine's thread, on the reader's own timer.
    bool setCensusEnabled(bool on);
    bool censusEnabled() const { return m_censusEnabled; }
    bool startNodePolling();
    void stopNodePolling();
    bool nodePolling() const { return m_nodePolling; }
    void clearCensus();
    // Forgets the sources that fell silent, the universes left without one and the nodes that
    // count as gone, with what was counted beyond the bounds.
    void forgetSilent();
    qint64 censusClockMs() const;
    QList<UniverseTraffic> universeTraffic() const;   // sorted by port-address
    QList<DmxSource> dmxSources(quint16 portAddress) const; // in order of first arrival
    quint64 unstoredSources() const;                   // beyond the bounds, counted once each
    quint64 unlistedUniverses() const;                 // beyond the universe bound, once each
    quint64 malformedDmx() const;                      // ArtDmx passed over as malformed, counted
                                                       // by the census
    quint64 malformedDmxWithoutSource() const;         // of them, from senders without a source
    QList<NodeInfo> nodes() const;                     // by source address, then BindIndex
    quint64 malformedPollReplies() const;              // shorter than 207 bytes
    quint64 unstoredNodes() const;                     // replies beyond the table's bound
    // Whether the census counts what arrives now; the detector of events reads it then only.
    bool censusCounting() const { return censusRunning(); }
    const DmxCensus *census() const;
    // Counts nothing while suppressed, to measure the receive path without the census.
    void setCensusSuppressed(bool suppressed) { m_censusSuppressed = suppressed; }
    // Every well-formed frame received is handed to it too (null: none); not owned.
    void setFollowedLevels(FollowedLevels *levels) { m_followedLevels = levels; }

    // Node identity reported in ArtPollReply; the window writes these directly.
    quint8 m_oemHi;
    quint8 m_oemLo;
    quint8 m_versionHi;
    quint8 m_versionLo;
    QString m_shortName;
    QString m_longName;
    QString m_nodeReport;

public slots:
    qint64 sendDataTimeout();
    void readArtnetPackage();

private:
    friend class tst_artnet;
    friend class tst_artnet_discovery;
    friend struct CensusBenchAccess;

    void handleArtNetPacket(quint16 opCode, const QByteArray &datagram, const QHostAddress &sender,
                            qint64 arrivalNs);
    void handleMadrixPacket(quint16 opCode, const QByteArray &datagram);
    void answerPoll(const QByteArray &datagram, const QHostAddress &sender);
    void countCutArtDmx(const QByteArray &datagram, const QHostAddress &sender, qint64 arrivalNs);
    // Everything that takes received levels is fed from here, with the frame decoded once.
    void receiveFrame(const DmxFrame &frame);
    void recordHistory(const DmxFrame &frame);
    UniverseKey receiveKey() const { return UniverseKey{DmxProtocol::ArtNet, m_receiveUniverse}; }
    void copyFrameToRecordBuffer(const DmxFrame &frame);
    void copyFrameToColors(const DmxFrame &frame);
    static DmxFrame workingCopyFrame(const uchar *packet);
    void updateTimeCodeSources(const QByteArray &datagram, const QHostAddress &sender,
                               qint64 arrivalNs);
    void syncStep(const QByteArray &datagram, bool &announce, const char *announcement);
    void copyIntoRecordTarget(uchar *target, uint start, const uchar *data, uint count) const;
    void addressEntryFound(const QNetworkAddressEntry &entry, const QString &hardwareAddress);
    static void resetOneShotMessages();
    void chooseBroadcastTargets();
    const InterfaceEntry *interfaceForPoller(quint32 pollerIp) const;
    const InterfaceEntry *replyingInterface(quint32 pollerIp);
    uint pollReplyUniverses() const;
    ArtNetPackets::PollReplyNode pollReplyNode(const InterfaceEntry &entry) const;
    void discoveryMessage(const QString &text);
    qint64 sendToEveryNetwork(const uchar *packet, quint16 size, QStringList *reached);
    // One copy of the packet to each target; `left` hears the index of every copy that went
    // out. Returns the bytes that went out, -1 when no copy did.
    qint64 sendToEach(const uchar *packet, int size, const QList<QHostAddress> &targets,
                      const std::function<void(int)> &left);
    bool censusRunning() const
    {
        return m_census && (m_receiving || m_censusEnabled || m_nodePolling) && !m_censusSuppressed;
    }
    void makeCensus();
    qint64 censusMs(qint64 arrivalNs) const { return (arrivalNs - m_censusStartNs) / 1'000'000; }
    void countFrame(const DmxFrame &frame);
    void countPollReply(const QByteArray &datagram, const QHostAddress &sender, qint64 arrivalNs);
    void pollNodes();

    QUdpSocket *m_socket;
    std::unique_ptr<QList<InterfaceEntry>> m_interfaces; // made at the first discovery
    bool m_socketOpen;
    bool m_interfacesDiscovered;
    bool m_outputRunning;
    bool m_receiving;
    std::unique_ptr<uchar[]> m_lastPacket; // while sending
    quint16 m_lastPacketLength;
    bool m_haveLastPacket;
    std::unique_ptr<uchar[]> m_receiveBuffer; // while receiving
    quint16 m_receivedLength;
    quint16 m_receiveUniverse;
    std::unique_ptr<QList<TimeCodeSource>> m_timeCodeSources; // from the first ArtTimeCode
    bool m_haveTimeCode;
    QTimer *m_refreshTimer;
    std::unique_ptr<uchar[]> m_headerCopy; // from the first datagram
    std::unique_ptr<uchar[]> m_storedPoll; // from the first ArtPoll answered
    std::unique_ptr<QMutex> m_recordMutex;
    uchar *m_recordBuffer;
    std::unique_ptr<uchar[]> m_stagingBuffer; // while a record buffer is installed
    uint m_recordBufferSize;
    quint16 m_universeStride;
    qint16 m_syncMode;
    std::unique_ptr<QElapsedTimer> m_syncClock;
    QColor *m_colors;
    uint m_colorCount;
    quint16 m_colorChannels;
    bool m_pollMode;

    // Working buffers, allocated with the engine and reused for every packet.
    uchar m_sendPacket[ArtNetPackets::Dmx::MaxSize];
    uchar m_pollReply[ArtNetPackets::PollReply::Size];
    uchar m_timeCode[ArtNetPackets::TimeCode::Size];
    std::unique_ptr<DatagramReader> m_datagramReader; // made at the first readyRead
    DatagramTap *m_datagramTap = nullptr;
    std::unique_ptr<CoalescingReader> m_coalescingReader; // the same, for the open socket
    std::unique_ptr<FrameHistory> m_frameHistory; // made once, at the first setFrameHistoryKept
    FrameHistory *m_historySink = nullptr;        // m_frameHistory while kept, else null
    std::unique_ptr<SourceLevels> m_sourceLevels; // of the receive universe, while kept
    std::unique_ptr<uchar[]> m_chosenLevels;      // what m_historyChoice picks, with them
    LevelChoice m_historyChoice;
    quint64 m_liveDatagramsDropped = 0;
    bool m_playingCapture = false;
    quint64 m_datagramsRead = 0; // datagrams taken from the socket, for tests and measurements
    quint64 m_malformedDmxPassedOver = 0; // by the receiver, whether the census runs or not
    bool m_portShared = false;
    NetworkChangeWatcher *m_networkWatcher = nullptr;
    QTimer *m_rediscoveryTimer = nullptr;   // gathers a burst of change messages into one scan
    QElapsedTimer m_pollRediscoveryClock;   // polls from unknown subnets scan at most once a second
    QString *m_discoveryMessages = nullptr; // while set, discovery messages are kept here
    // Where a frame goes besides 255.255.255.255: the directed broadcast of every network that
    // the limited broadcast does not reach, chosen at each sendDmx and repeated by the refresh.
    QList<QHostAddress> m_directedBroadcasts;
    QStringList m_directedNetworks;
    QStringList m_limitedBroadcastNetworks;
    QStringList m_sendNetworks;

    // Census: made at its first use, then kept; it counts on the datagrams' arrival times, in
    // milliseconds since m_censusStartNs (MonotonicClock).
    std::unique_ptr<TrafficCensus> m_census;
    std::unique_ptr<NodeTable> m_nodeTable;
    QTimer *m_pollTimer = nullptr;
    qint64 m_censusStartNs = 0;
    bool m_censusEnabled = false;
    bool m_nodePolling = false;
    bool m_censusSuppressed = false; // for measuring the receive path without it
    FollowedLevels *m_followedLevels = nullptr;
};

#endif // ARTNET_H
