#include "captureindex.h"

#include <QFileInfo>

#include <algorithm>

namespace {

constexpr quint64 ProgressEvery = 16384;

} // namespace

bool CaptureIndex::build(const QString &path, const Progress &progress,
                         const std::atomic_bool *cancel)
{
    *this = CaptureIndex();
    m_entries.reserve(MaximumEntries);
    CaptureFileReader reader;
    if (!reader.open(path)) {
        m_error = reader.errorString();
        return false;
    }
    m_linkTypeName = reader.linkTypeName();
    const qint64 fileSize = QFileInfo(path).size();
    CapturedDatagram datagram;
    // position() asks the system (ftell): only for the datagrams that may become entries.
    for (quint64 number = 0;; ++number) {
        const bool mayKeep = number % m_stride == 0;
        const qint64 position = mayKeep ? reader.position() : 0;
        if (!reader.readNext(&datagram))
            break;
        if (number == 0)
            m_firstTimeNs = datagram.timeNs;
        m_lastTimeNs = datagram.timeNs;
        if (mayKeep)
            add(position, datagram.timeNs, number);
        if (number % ProgressEvery == 0) {
            if (cancel && cancel->load(std::memory_order_relaxed))
                return false;
            if (progress)
                progress(reader.position(), fileSize);
        }
    }
    m_counts = reader.counts();
    m_error = reader.errorString();
    if (progress)
        progress(fileSize, fileSize);
    return true;
}

void CaptureIndex::add(qint64 position, qint64 timeNs, quint64 datagram)
{
    if (m_entries.size() == MaximumEntries) {
        // Keep the entries whose numbers are multiples of the doubled stride: the even ones.
        std::size_t kept = 0;
        for (std::size_t i = 0; i < m_entries.size(); i += 2)
            m_entries[kept++] = m_entries[i];
        m_entries.resize(kept);
        m_stride *= 2;
        if (datagram % m_stride != 0)
            return;
    }
    m_entries.push_back({position, timeNs, datagram});
}

const CaptureIndex::Entry *CaptureIndex::entryAtOrBefore(qint64 timeNs) const
{
    if (m_entries.empty())
        return nullptr;
    // Captures are in time order; where they are not quite, this still lands near.
    const auto after = std::upper_bound(m_entries.begin(), m_entries.end(), timeNs,
                                        [](qint64 time, const Entry &entry) {
                                            return time < entry.timeNs;
                                        });
    return after == m_entries.begin() ? &m_entries.front() : &*(after - 1);
}
