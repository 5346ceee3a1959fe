#ifndef CAPTUREPLAYER_H
#define CAPTUREPLAYER_H

#include "captureddatagram.h"
#include "capturefilereader.h"
#include "captureindex.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class CaptureSession;

// Plays a capture file through the session, on the thread it lives on (the window's): a timer
// hands the session every datagram due by the playback clock's "now" (MonotonicClock), a
// slice at a time, so that the window keeps answering even when the capture is played as fast
// as it can be. The file is read as it plays, never held: an index pass made beforehand lets a
// seek start near its target.
class CapturePlayer : public QObject
{
    Q_OBJECT

public:
    enum class State { Closed, Paused, Playing, AtEnd };
    // Speeds in quarters of real time; AsFastAsPossible feeds without waiting.
    static constexpr int AsFastAsPossible = 0;
    static constexpr int RealTime = 4;
    // A seek starts feeding this long before its target, so that every universe of a show has
    // had a packet by then and the levels are those of the target.
    static constexpr qint64 SeekLeadNs = 2'000'000'000;
    // At most this long, or this many datagrams, in one timer event.
    static constexpr qint64 SliceNs = 3'000'000;
    static constexpr int SliceDatagrams = 20000;

    explicit CapturePlayer(CaptureSession *session, QObject *parent = nullptr);
    ~CapturePlayer() override;

    // Opens the file again for playing, with what its index pass found, and starts playing from
    // the start. False when it cannot be read: errorString() says why.
    bool open(const QString &path, CaptureIndex index);
    void close();
    State state() const { return m_state; }
    // A seek is feeding up to its target.
    bool seeking() const { return m_catchUpUntilNs >= 0; }
    bool isOpen() const { return m_state != State::Closed; }
    QString errorString() const { return m_error; }

    void play();
    void pause();
    // One datagram, then paused.
    void step();
    // To offsetNs after the capture's first datagram; the views then show what they would have
    // shown then.
    void seek(qint64 offsetNs);
    void setSpeed(int quarters);
    int speed() const { return m_speed; }

    qint64 durationNs() const { return m_index.lastTimeNs() - m_index.firstTimeNs(); }
    qint64 positionNs() const;      // from the first datagram, as of now
    qint64 captureTimeNs() const;   // ns since the epoch, as of now
    quint64 datagramsFed() const { return m_fed; }
    const CaptureIndex &index() const { return m_index; }

signals:
    void stateChanged();
    // Reading ended before the end of the file.
    void readFailed(const QString &error);

private:
    void feedDue();
    bool havePending();
    void feedPending();
    void reachEnd();
    // Sets the playback clock for the state: running at the speed, or frozen.
    void runClock(qint64 fromNs);
    void restartTimer();
    void setState(State state);

    CaptureSession *m_session;
    CaptureFileReader m_reader;
    CaptureIndex m_index;
    CapturedDatagram m_pending;
    bool m_hasPending = false;
    qint64 m_lastFedNs = 0;      // capture time of the last datagram fed
    qint64 m_catchUpUntilNs = -1; // a seek's target (capture time) while feeding up to it
    State m_state = State::Closed;
    int m_speed = RealTime;
    quint64 m_fed = 0;
    QString m_error;
    QTimer m_timer;
    QElapsedTimer m_sliceClock;
};

#endif // CAPTUREPLAYER_H
