#ifndef MONOTONICCLOCK_H
#define MONOTONICCLOCK_H

#include <QtGlobal>

#include <atomic>
#include <chrono>

// The clock of every arrival time: on Linux CLOCK_MONOTONIC, the clock QElapsedTimer reads too,
// so that a datagram's kernel timestamp, the frame history and the views' "now" compare directly.
//
// While a capture is played, "now" is the capture's timeline instead, mapped into the same
// range: every engine and view then sees the capture's datagrams arrive as they did, faster or
// slower, or stand still, without knowing that they are played. The mode is process-wide and
// read on every datagram, so it is a few atomics: no lock, no allocation. Only the thread that
// plays (the window's) changes it.
namespace MonotonicClock {

inline qint64 steadyNs()
{
    return qint64(std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count());
}

enum class Playback { Live, Running, Frozen };

namespace Detail {
inline std::atomic<int> mode{int(Playback::Live)};
inline std::atomic<qint64> baseNs{0};       // "now" when the running clock last started
inline std::atomic<qint64> steadyBaseNs{0}; // the steady clock at that moment
inline std::atomic<int> speedQuarters{4};   // 4: real time; 1: a quarter of it; 32: eight times
// Capture time (ns since the Unix epoch) minus mapped time, while a capture is played.
inline std::atomic<qint64> epochOffsetNs{0};
} // namespace Detail

inline Playback playback()
{
    return Playback(Detail::mode.load(std::memory_order_relaxed));
}

inline qint64 nowNs()
{
    switch (playback()) {
    case Playback::Live:
        break;
    case Playback::Running:
        return Detail::baseNs.load(std::memory_order_relaxed)
               + (steadyNs() - Detail::steadyBaseNs.load(std::memory_order_relaxed))
                         * Detail::speedQuarters.load(std::memory_order_relaxed) / 4;
    case Playback::Frozen:
        return Detail::baseNs.load(std::memory_order_relaxed);
    }
    return steadyNs();
}

// Playback from mappedNs on: running at speedQuarters / 4 of real time, or frozen there.
inline void setPlayback(Playback mode, qint64 mappedNs, int speedQuarters = 4)
{
    Detail::baseNs.store(mappedNs, std::memory_order_relaxed);
    Detail::steadyBaseNs.store(steadyNs(), std::memory_order_relaxed);
    Detail::speedQuarters.store(speedQuarters, std::memory_order_relaxed);
    Detail::mode.store(int(mode), std::memory_order_release);
}

// Where a capture's timeline lies in the monotonic range: captureNs (since the epoch) is mapped
// to mappedNs.
inline void setCaptureOrigin(qint64 captureNs, qint64 mappedNs)
{
    Detail::epochOffsetNs.store(captureNs - mappedNs, std::memory_order_relaxed);
}

inline qint64 fromCaptureNs(qint64 captureNs)
{
    return captureNs - Detail::epochOffsetNs.load(std::memory_order_relaxed);
}

inline qint64 toCaptureNs(qint64 mappedNs)
{
    return mappedNs + Detail::epochOffsetNs.load(std::memory_order_relaxed);
}

// The time of day (ms since the epoch) at nowNs(): the capture's own while one is played.
inline qint64 wallClockMs()
{
    if (playback() != Playback::Live)
        return toCaptureNs(nowNs()) / 1'000'000;
    return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count());
}

} // namespace MonotonicClock

#endif // MONOTONICCLOCK_H
