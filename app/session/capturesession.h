#ifndef CAPTURESESSION_H
#define CAPTURESESSION_H

#include "capturefilewriter.h"
#include "censussnapshot.h"
#include "dmxevent.h"
#include "dmxframe.h"
#include "dmxsource.h"
#include "levelchoice.h"
#include "universemerge.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

struct CapturedDatagram;
class EventDetector;
class EventLog;
class NetworkChangeWatcher;
class FollowedLevels;
class FrameHistory;
class SacnReceiver;
class SacnSender;
class SourceLevels;
class artnet;

// Everything the window asks of the network, in one place: recording the universe on show,
// sending a frame, answering polls and listening for the network view, for Art-Net and sACN.
// The engines are made at the first start() and kept until the session ends; before that
// nothing opens a socket. Art-Net universe numbers are 1-based, as the spin box shows them;
// sACN universes are the protocol's own 1-63999.
//
// The protocol on show decides what readLevels() and history() follow: the latest ArtDmx of the
// Art-Net universe, or the merge of the sACN universe's sources as a receiver outputs it.
class CaptureSession
{
public:
    // What this program says about itself in its poll replies.
    struct Identity
    {
        quint8 versionHi = 0;
        quint8 versionLo = 0;
        quint8 oemHi = 0;
        quint8 oemLo = 0;
        QString shortName;
        QString longName;
    };

    CaptureSession();
    ~CaptureSession();
    CaptureSession(const CaptureSession &) = delete;
    CaptureSession &operator=(const CaptureSession &) = delete;

    // Makes the engine on the first call; every call gives it the identity again.
    void start(const Identity &identity);
    bool started() const { return bool(m_artNet); }
    // The Art-Net engine, for those that need the class itself; null before start().
    artnet *artNetEngine() const { return m_artNet.get(); }
    SacnReceiver *sacnReceiver() const { return m_sacn.get(); }

    void setProtocol(DmxProtocol protocol);
    DmxProtocol protocol() const { return m_protocol; }
    // The sACN universe on show; false outside 1 to 63999.
    bool setSacnUniverse(int universe);
    int sacnUniverse() const { return m_sacnUniverse; }
    // sACN universes followed besides the one on show, whatever the protocol on show.
    void setWatchList(const QList<quint16> &universes);
    // Preview data (options bit 0x80) takes part in the sACN levels only when asked for.
    void setPreviewShown(bool shown);
    // The universe on show as the wire names it (an Art-Net port-address, an sACN universe).
    UniverseKey universeOnShow() const;

    // False while the port cannot be opened (another program holds it without sharing).
    bool openPort();
    bool portShared() const;
    // The same for sACN's port 5568.
    bool openSacnPort();
    bool sacnPortShared() const;
    bool setPollMode(bool on);
    // The universe that readLevels() and the frame history follow; false outside 1 to 65536,
    // and before start(), which only remembers it for universeOnShow().
    bool setUniverse(int universe);

    // Recording: the frames of the universe on show are kept with their arrival times from now on.
    void keepHistory();
    const FrameHistory *history() const;
    // The latest levels of the universe; length in: room in buffer, out: bytes copied.
    bool readLevels(uchar *buffer, quint16 *length);

    // What readLevels() and history() give for the universe on show, for the protocol on show.
    // Art-Net starts with LatestPacket, the latest ArtDmx whatever its source; sACN with
    // MergedPriorityHtp, the receiver's output. A choice the protocol does not offer is
    // refused; a source's choice ends with a change of universe, not when the source falls
    // silent (it then gives no levels).
    void setLevelChoice(const LevelChoice &choice);
    LevelChoice levelChoice() const;
    // LatestPacket, the protocol's merges, then one Source per stored source.
    QList<LevelChoice> levelChoices() const;
    // "Latest packet", "Merged (HTP)", "Merged (LTP)", "Merged (priority, HTP)", or the
    // source's label.
    QString levelChoiceText(const LevelChoice &choice) const;
    // Each source's own levels of the universe on show and their merge by mergeKind, as of now.
    UniverseMerge universeMerge(LevelChoice::Kind mergeKind) const;
    // The channel (0-511; -1 none) whose level each source's packets are traced for.
    void setTracedChannel(int channel);
    int tracedChannel() const { return m_tracedChannel; }
    using SourceTraceSample = ::SourceTraceSample;
    // One stored source's trace (its index in universeMerge().sources), arrival from sinceNs on.
    QList<SourceTraceSample> sourceTrace(int sourceIndex, qint64 sinceNs) const;

    // Sending: once now, then repeated until stop(). Results as the engine's sendDmx: the
    // datagram size, or below 0 when nothing went out.
    // In sACN the frame goes to the sACN universe on show, and Stop ends its stream with
    // stream-terminated packets; universe is the Art-Net one.
    qint64 send(const QByteArray &frame, int universe);
    void setSacnSendPriority(int priority); // 0-200
    DmxProtocol sendingProtocol() const;
    int sendingUniverse() const;      // 0 while nothing is repeated
    QStringList sendNetworks() const; // the networks the repeated frame reaches
    // Ends recording and sending; listening and poll replies go on.
    void stop();

    // Listening for the network view and the other readers of the census (the event log, the
    // phone view): counts every sender and polls for nodes, beside what recording needs, from
    // the first start to the stop that matches the last one; each reader starts and stops once.
    // Returns whether the port is open.
    bool startListening();
    void stopListening();
    bool listening() const;
    // The latest levels of these universes are kept from now on, beside the universe on show
    // (at most FollowedLevels::MaxUniverses of them).
    void setFollowedUniverses(const QList<UniverseKey> &universes);
    // A followed universe's levels: the window's own (readLevels()) while it records that
    // universe, else those kept for the follower. length in: room in buffer, out: bytes copied.
    bool readFollowedLevels(UniverseKey universe, uchar *buffer, quint16 *length);
    CensusSnapshot census() const;
    QList<DmxSource> sources(int universe) const; // Art-Net, in order of first arrival
    QList<DmxSource> sources(UniverseKey universe) const;
    qint64 clockMs() const;
    // Forgets universes, senders and nodes that fell silent, and what was counted beyond the
    // bounds, so that a flood gone by leaves no rows behind.
    void forgetSilent();

    // Playing a capture: what the sockets read is dropped (and counted), nothing is sent because
    // of a played packet, and the captured datagrams come in through feedCapturedDatagram(),
    // on the receive path of live ones, arriving at their time on the playback clock
    // (MonotonicClock). Leaving forgets what the capture left. Needs start().
    void setPlayingCapture(bool playing);
    bool playingCapture() const { return m_playingCapture; }
    void feedCapturedDatagram(const CapturedDatagram &datagram);
    quint64 liveDatagramsDropped() const;
    // Forgets every level, frame, source, node and time code received, as if none had arrived.
    void forgetReceived();

    // Capture: every datagram the Art-Net and sACN sockets receive, polls and replies included,
    // written to a pcap file whatever else goes on. Opens both ports; sACN's stays open until
    // the capture ends. False, with captureStatus().error saying why, when the file cannot be
    // written. Before start() nothing can be captured.
    bool startCapture(const QString &path, quint64 sizeLimitBytes);
    void stopCapture();
    // True until stopCapture(), also after the capture ended by itself (size limit, failed
    // write), which captureStatus() tells.
    bool capturing() const { return m_capturing; }
    // The running capture's, or the last one's.
    CaptureFileWriter::Status captureStatus() const;

    // The events of this run: what the network did (found by detectEvents() in what the
    // engines track, while they count) and what the program did (noteEvent()).
    EventLog *eventLog() const { return m_eventLog.get(); }
    // One pass of the detector over the censuses, the node list and the time code senders; the
    // window calls it every 250 ms. Also tells a capture that ended by itself.
    void detectEvents();
    void noteEvent(DmxEventKind kind, const QString &text);

private:
    enum class PortState { Unknown, Open, Shared, Busy };
    void notePort(DmxProtocol protocol, bool open, bool shared);
    void noteCaptureEnded();
    void noteNetworkChange();
    static QStringList ipv4Addresses();
    void detectArtNetEvents(qint64 wallMs);
    void detectSacnEvents(qint64 wallMs);
    void appendSacnCensus(CensusSnapshot *snapshot) const;
    const SourceLevels *shownSourceLevels() const;
    void applyLevelChoice();
    QString sourceLabel(const SourceIdentity &source) const;
    void fillMerge(LevelChoice::Kind mergeKind, qint64 nowNs, UniverseMerge *merge) const;
    void closeSacnWhenUnused();

    std::unique_ptr<artnet> m_artNet;
    std::unique_ptr<SacnReceiver> m_sacn;
    std::unique_ptr<SacnSender> m_sacnSender;
    int m_sacnSendPriority = 100;
    DmxProtocol m_protocol = DmxProtocol::ArtNet;
    int m_artNetUniverse = 1;
    int m_sacnUniverse = 1;
    QList<quint16> m_watchList;
    bool m_previewShown = false;
    bool m_sacnRecording = false;
    bool m_sacnListening = false;
    int m_listeners = 0; // startListening() calls not yet stopped
    std::unique_ptr<FollowedLevels> m_followedLevels;
    bool m_capturing = false;
    std::unique_ptr<CaptureFileWriter> m_captureWriter;
    LevelChoice m_artNetChoice;
    LevelChoice m_sacnChoice = LevelChoice::of(LevelChoice::Kind::MergedPriorityHtp);
    std::unique_ptr<uchar[]> m_chosenLevels; // readLevels()'s working frame
    int m_tracedChannel = -1;
    bool m_playingCapture = false;
    QHostAddress m_capturedSender; // one for every played datagram: none is made per datagram
    std::unique_ptr<EventLog> m_eventLog;
    std::unique_ptr<EventDetector> m_detector;
    std::unique_ptr<NetworkChangeWatcher> m_networkWatcher; // made at start()
    QStringList m_networkAddresses; // "eth0 192.168.1.10", as last seen
    PortState m_portState[DmxProtocolCount] = {PortState::Unknown, PortState::Unknown};
    bool m_captureEndNoted = true;
    bool m_detectorFresh = true; // false after a pass with no census counting
};

#endif // CAPTURESESSION_H
