#ifndef MONOTONICCLOCK_H
#define MONOTONICCLOCK_H

#include <QtGlobal>

#include <chrono>

// The clock of every arrival time: on Linux CLOCK_MONOTONIC, the clock QElapsedTimer reads too,
// so that a datagram's kernel timestamp, the frame history and the views' "now" compare directly.
namespace MonotonicClock {

inline qint64 nowNs()
{
    return qint64(std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count());
}

} // namespace MonotonicClock

#endif // MONOTONICCLOCK_H
