#include "framehistory.h"

#include <algorithm>
#include <cstring>

FrameHistory::FrameHistory()
    : m_levels(new uchar[size_t(Capacity) * FrameSize]),
      m_times(new qint64[Capacity]()),
      m_lengths(new quint16[Capacity]())
{
    m_clock.start();
}

void FrameHistory::append(const uchar *levels, quint16 length, qint64 timeNs)
{
    const quint16 kept = std::min<quint16>(length, FrameSize);
    const size_t at = slot(m_endSerial);
    std::memcpy(m_levels.get() + at * FrameSize, levels, kept);
    m_times[at] = timeNs;
    m_lengths[at] = kept;
    ++m_endSerial;
}

void FrameHistory::clear()
{
    m_beginSerial = m_endSerial;
    ++m_historyId;
}

quint64 FrameHistory::firstSerial(qint64 nowNs) const
{
    quint64 first = std::max(m_beginSerial, m_endSerial > quint64(Capacity)
                                                    ? m_endSerial - quint64(Capacity)
                                                    : quint64(0));
    // Arrival times only grow, so the frames younger than the span are one run at the end.
    quint64 last = m_endSerial;
    const qint64 oldestKept = nowNs - SpanNs;
    while (first < last) {
        const quint64 middle = first + (last - first) / 2;
        if (timeAt(middle) < oldestKept)
            first = middle + 1;
        else
            last = middle;
    }
    return first;
}
