#ifndef CAPTUREFILEWRITER_H
#define CAPTUREFILEWRITER_H

#include "capturering.h"
#include "datagramtap.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

struct pcap;
struct pcap_dumper;

// Writes every datagram it is tapped with to a pcap file (LINKTYPE_RAW: an IPv4 and a UDP
// header made up from the datagram's addresses and ports, then the datagram; timestamps in
// microseconds since the epoch), which Wireshark, tshark and tcpdump read.
//
// The tap copies the datagram into a fixed ring and returns; a thread of the writer's own
// empties the ring through libpcap in blocks and flushes after each, at least once a second. A
// datagram that finds the ring full is counted as not captured. The capture ends at stop(),
// before a record would take the file past its size limit, or at a write error (a full disk):
// the file is then cut back to the end of the last block written whole, so that it reads
// without error up to its last record.
class CaptureFileWriter final : public DatagramTap
{
public:
    enum class Ending { Running, Stopped, SizeLimit, WriteError };

    struct Status
    {
        QString path;
        qint64 startedMs = 0; // since the epoch
        quint64 bytesWritten = 0;
        quint64 datagrams = 0;   // written to the file
        quint64 notCaptured = 0; // found the ring full
        double writerCpuSeconds = 0; // the writing thread's own, for measurements
        Ending ending = Ending::Running;
        QString error; // in words, for a user; empty unless the capture failed
    };

    static constexpr size_t DefaultRingBytes = size_t(16) << 20;

    explicit CaptureFileWriter(size_t ringBytes = DefaultRingBytes);
    ~CaptureFileWriter() override;
    CaptureFileWriter(const CaptureFileWriter &) = delete;
    CaptureFileWriter &operator=(const CaptureFileWriter &) = delete;

    // Creates the file (replacing one of that name) and starts the writing thread; false, with
    // status().error saying why, when the file cannot be written.
    bool start(const QString &path, quint64 sizeLimitBytes);
    // Writes what the ring holds, closes the file and ends the thread.
    void stop();
    bool running() const { return m_accepting.load(std::memory_order_acquire); }
    Status status() const;

    void tap(const char *data, int length, quint32 source, quint16 sourcePort,
             quint32 destination, quint16 destinationPort, qint64 arrivalNs) override;

private:
    void run();
    // Writes what the ring holds; false when the capture ended meanwhile.
    bool writeBlock();
    bool writeRecord(const CaptureRing::Datagram &datagram);
    bool flush();
    void end(Ending ending, const QString &error);

    CaptureRing m_ring;
    QString m_path;
    quint64 m_sizeLimit = 0;
    qint64 m_startedMs = 0;
    qint64 m_realtimeOffsetNs = 0; // CLOCK_REALTIME minus CLOCK_MONOTONIC at the start
    pcap *m_pcap = nullptr;
    pcap_dumper *m_dumper = nullptr;
    int m_descriptor = -1;     // the file's, for cutting it back after a failed write
    quint64 m_flushedBytes = 0; // the file's length as of the last flush that succeeded
    quint16 m_identification = 0;
    std::unique_ptr<quint8[]> m_record;
    std::unique_ptr<char[]> m_fileBuffer; // the file's stdio buffer, until it is closed
    QString m_writeError; // the writing thread's, until end() reports it

    std::atomic<bool> m_accepting{false};
    std::atomic<quint64> m_bytesWritten{0};
    std::atomic<quint64> m_datagrams{0};
    std::atomic<quint64> m_notCaptured{0};
    std::atomic<qint64> m_writerCpuNs{0};

    mutable std::mutex m_mutex; // guards m_ending, m_error and m_stopAsked
    std::condition_variable m_wake;
    bool m_stopAsked = false;
    Ending m_ending = Ending::Running;
    QString m_error;
    std::thread m_thread;
};

#endif // CAPTUREFILEWRITER_H
