#include "capturering.h"

#include <cstring>

namespace {

constexpr size_t Alignment = 8;

} // namespace

CaptureRing::CaptureRing(size_t capacityBytes)
    : m_capacity(capacityBytes / Alignment * Alignment), m_bytes(new char[m_capacity])
{
    static_assert(sizeof(Record) % Alignment == 0);
}

size_t CaptureRing::spaceFor(int length)
{
    return (sizeof(Record) + size_t(length) + Alignment - 1) / Alignment * Alignment;
}

bool CaptureRing::push(const Datagram &datagram)
{
    if (datagram.length < 0)
        return false;
    const size_t space = spaceFor(datagram.length);
    const quint64 head = m_head.load(std::memory_order_relaxed);
    const quint64 tail = m_tail.load(std::memory_order_acquire);
    const size_t position = size_t(head % m_capacity);
    const size_t toEnd = m_capacity - position;
    // A datagram is kept in one piece: one that does not fit before the end starts over at 0.
    const size_t padding = space > toEnd ? toEnd : 0;
    if (space > m_capacity || head - tail + padding + space > m_capacity)
        return false;
    if (padding) {
        // Every position is a multiple of 8, so the length field fits before the end.
        const qint32 marker = PaddingLength;
        std::memcpy(m_bytes.get() + position, &marker, sizeof marker);
    }
    char *at = m_bytes.get() + (head + padding) % m_capacity;
    const Record record = {datagram.length,  datagram.sourcePort, datagram.destinationPort,
                           datagram.source,  datagram.destination, datagram.arrivalNs};
    std::memcpy(at, &record, sizeof record);
    if (datagram.length > 0)
        std::memcpy(at + sizeof record, datagram.data, size_t(datagram.length));
    m_head.store(head + padding + space, std::memory_order_release);
    return true;
}

bool CaptureRing::peek(Datagram *datagram)
{
    quint64 tail = m_tail.load(std::memory_order_relaxed);
    const quint64 head = m_head.load(std::memory_order_acquire);
    while (tail != head) {
        const size_t position = size_t(tail % m_capacity);
        qint32 length = 0;
        std::memcpy(&length, m_bytes.get() + position, sizeof length);
        if (length == PaddingLength) {
            tail += m_capacity - position;
            m_tail.store(tail, std::memory_order_release);
            continue;
        }
        Record record = {};
        std::memcpy(&record, m_bytes.get() + position, sizeof record);
        *datagram = {m_bytes.get() + position + sizeof record,
                     record.length,
                     record.source,
                     record.sourcePort,
                     record.destination,
                     record.destinationPort,
                     record.arrivalNs};
        m_peekedEnd = tail + spaceFor(record.length);
        return true;
    }
    return false;
}

void CaptureRing::release()
{
    if (m_peekedEnd)
        m_tail.store(m_peekedEnd, std::memory_order_release);
    m_peekedEnd = 0;
}
