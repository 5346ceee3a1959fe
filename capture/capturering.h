#ifndef CAPTURERING_H
#define CAPTURERING_H

#include <QtGlobal>

#include <atomic>
#include <cstddef>
#include <memory>

// A fixed ring of bytes between one thread that receives datagrams and one that writes them to
// a file. The receiving side copies a datagram in with its addresses and arrival time, or, when
// the ring has no room left, gives up at once: it never waits and never allocates. The writing
// side takes the oldest datagram, reads it in place and releases it.
class CaptureRing
{
public:
    struct Datagram
    {
        const char *data = nullptr;
        int length = 0;
        quint32 source = 0;
        quint16 sourcePort = 0;
        quint32 destination = 0;
        quint16 destinationPort = 0;
        qint64 arrivalNs = 0;
    };

    // capacityBytes is rounded down to a multiple of 8.
    explicit CaptureRing(size_t capacityBytes);
    CaptureRing(const CaptureRing &) = delete;
    CaptureRing &operator=(const CaptureRing &) = delete;

    // Receiving side. False when the ring has no room for the datagram.
    bool push(const Datagram &datagram);

    // Writing side: the oldest datagram, valid until release(); false when the ring is empty.
    bool peek(Datagram *datagram);
    void release();

private:
    // What precedes each datagram in the ring; a length of PaddingLength marks the unused end
    // of the ring before a datagram that did not fit there.
    struct Record
    {
        qint32 length;
        quint16 sourcePort;
        quint16 destinationPort;
        quint32 source;
        quint32 destination;
        qint64 arrivalNs;
    };
    static constexpr qint32 PaddingLength = -1;
    static size_t spaceFor(int length);

    size_t m_capacity;
    std::unique_ptr<char[]> m_bytes;
    alignas(64) std::atomic<quint64> m_head{0}; // written by the receiving side
    alignas(64) std::atomic<quint64> m_tail{0}; // written by the writing side
    quint64 m_peekedEnd = 0;                    // the writing side's own
};

#endif // CAPTURERING_H
