#ifndef CAPTUREREPLAYER_H
#define CAPTUREREPLAYER_H

#include "interfaceentry.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <thread>

// Sends the Art-Net and sACN datagrams of a capture file to the network again, on a thread of
// its own, each at the start plus its offset in the capture: the pacing sleeps to absolute
// deadlines on the monotonic clock, so that the spacing holds and nothing drifts; a datagram
// that comes late goes at once without moving the timeline. A loop starts each pass on the
// same timeline: the previous start plus the capture's duration plus its mean spacing.
//
// The file is read as it is sent (twice: a first pass finds its duration), never loaded. Art-Net
// goes to the address the capture had, or to the directed broadcast of each chosen network; sACN
// to its group, on each chosen network's interface. The socket is its own, on an ephemeral
// port, so that the engine's port 6454 keeps every datagram that arrives for it.
class CaptureReplayer
{
public:
    struct Options
    {
        QString path;
        QList<quint16> universes;       // as shown (Art-Net port-address + 1); empty: all
        QList<InterfaceEntry> networks; // empty: where the capture sent them
        bool loop = false;
    };

    struct Progress
    {
        bool running = false;
        qint64 offsetNs = 0;   // of the last datagram sent, in its pass
        qint64 durationNs = -1; // -1 until the first pass over the file found it
        int pass = 1;
        quint64 sent = 0;      // datagrams, each counted once whatever its copies
    };

    CaptureReplayer() = default;
    ~CaptureReplayer();
    CaptureReplayer(const CaptureReplayer &) = delete;
    CaptureReplayer &operator=(const CaptureReplayer &) = delete;

    // Stops a replay under way, then starts this one. False, with the reason in words, when the
    // file cannot be opened or no socket can be made.
    bool start(const Options &options, QString *error);
    // Returns within a few milliseconds, wherever the replay was.
    void stop();
    Progress progress() const;
    // Why the last replay ended early (a damaged file, a send refused); empty otherwise.
    QString errorString() const;
    // Where the datagrams go, as addresses; those of the capture are known after its first pass.
    QStringList destinations() const;

    // The host's networks a replay can be sent to, as interface discovery keeps them.
    static QList<InterfaceEntry> availableNetworks();

private:
    struct Plan;

    void run(Plan *plan);
    bool survey(Plan *plan);
    bool sendPass(Plan *plan, qint64 *passStartNs);
    bool waitUntil(qint64 deadlineNs) const;
    void fail(const QString &error);

    std::thread m_thread;
    std::atomic_bool m_stop{false};
    std::atomic_bool m_running{false};
    std::atomic<qint64> m_offsetNs{0};
    std::atomic<qint64> m_durationNs{-1};
    std::atomic_int m_pass{1};
    std::atomic<quint64> m_sent{0};
    mutable QMutex m_mutex; // guards the texts below, written by the thread
    QString m_error;
    QStringList m_destinations;
};

#endif // CAPTUREREPLAYER_H
