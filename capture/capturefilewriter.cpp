#include "capturefilewriter.h"

#include "captureframing.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {


// The IPv4 and UDP headers made up in front of each datagram (no options).
constexpr int HeadersSize = Ipv4Layout::MinimumSize + UdpLayout::Size;
constexpr int MaxPayload = 0xffff - HeadersSize;
constexpr int PcapFileHeaderSize = 24;
constexpr int PcapRecordHeaderSize = 16;
constexpr size_t FileBufferBytes = size_t(1) << 20;
constexpr auto WakeInterval = std::chrono::milliseconds(20);
constexpr auto FlushInterval = std::chrono::seconds(1);

void put16(quint8 *at, quint16 value)
{
    at[0] = quint8(value >> 8);
    at[1] = quint8(value);
}

void put32(quint8 *at, quint32 value)
{
    put16(at, quint16(value >> 16));
    put16(at + 2, quint16(value));
}

quint16 ipv4Checksum(const quint8 *header)
{
    quint32 sum = 0;
    for (int i = 0; i < Ipv4Layout::MinimumSize; i += 2)
        sum += quint32(header[i]) << 8 | header[i + 1];
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return quint16(~sum);
}

qint64 nanoseconds(clockid_t clock)
{
    timespec time = {};
    clock_gettime(clock, &time);
    return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

CaptureFileWriter::CaptureFileWriter(size_t ringBytes)
    : m_ring(ringBytes),
      m_record(new quint8[HeadersSize + MaxPayload]),
      m_fileBuffer(new char[FileBufferBytes])
{
}

CaptureFileWriter::~CaptureFileWriter()
{
    stop();
}

bool CaptureFileWriter::start(const QString &path, quint64 sizeLimitBytes)
{
    if (m_thread.joinable() || m_dumper)
        return false;
    m_path = path;
    m_sizeLimit = sizeLimitBytes;
    m_startedMs = QDateTime::currentMSecsSinceEpoch();
    m_realtimeOffsetNs = nanoseconds(CLOCK_REALTIME) - nanoseconds(CLOCK_MONOTONIC);
    m_pcap = pcap_open_dead_with_tstamp_precision(DLT_RAW, 0xffff, PCAP_TSTAMP_PRECISION_MICRO);
    std::FILE *file = m_pcap ? std::fopen(QFile::encodeName(path).constData(), "wb") : nullptr;
    // libpcap's own message names the whole path, too long for the status bar.
    const QString reason = m_pcap ? systemError(errno) : QStringLiteral("out of memory");
    if (file) {
        // The default buffer of a few KiB would cost a write() every few records; with this one
        // each block reaches the file in one.
        std::setvbuf(file, m_fileBuffer.get(), _IOFBF, FileBufferBytes);
        m_dumper = pcap_dump_fopen(m_pcap, file);
        if (!m_dumper)
            std::fclose(file);
    }
    if (!m_dumper) {
        end(Ending::WriteError, QStringLiteral("Cannot write the capture file %1: %2")
                                        .arg(QFileInfo(path).fileName(), reason));
        return false;
    }
    m_descriptor = ::dup(fileno(pcap_dump_file(m_dumper)));
    m_bytesWritten = PcapFileHeaderSize;
    if (!flush()) {
        end(Ending::WriteError, m_writeError);
        return false;
    }
    m_accepting.store(true, std::memory_order_release);
    m_thread = std::thread([this] { run(); });
    return true;
}

void CaptureFileWriter::stop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopAsked = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (m_dumper)
        end(Ending::Stopped, QString());
}

CaptureFileWriter::Status CaptureFileWriter::status() const
{
    Status status;
    status.path = m_path;
    status.startedMs = m_startedMs;
    status.bytesWritten = m_bytesWritten.load(std::memory_order_relaxed);
    status.datagrams = m_datagrams.load(std::memory_order_relaxed);
    status.notCaptured = m_notCaptured.load(std::memory_order_relaxed);
    status.writerCpuSeconds = double(m_writerCpuNs.load(std::memory_order_relaxed)) * 1e-9;
    const std::lock_guard<std::mutex> lock(m_mutex);
    status.ending = m_ending;
    status.error = m_error;
    return status;
}

void CaptureFileWriter::tap(const char *data, int length, quint32 source, quint16 sourcePort,
                            quint32 destination, quint16 destinationPort, qint64 arrivalNs)
{
    if (!m_accepting.load(std::memory_order_relaxed))
        return;
    const CaptureRing::Datagram datagram = {data,        std::clamp(length, 0, MaxPayload),
                                            source,      sourcePort,
                                            destination, destinationPort,
                                            arrivalNs};
    if (!m_ring.push(datagram))
        m_notCaptured.fetch_add(1, std::memory_order_relaxed);
}

void CaptureFileWriter::run()
{
    auto lastFlush = std::chrono::steady_clock::now();
    for (;;) {
        bool stopAsked = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait_for(lock, WakeInterval, [this] { return m_stopAsked; });
            stopAsked = m_stopAsked;
        }
        if (stopAsked)
            m_accepting.store(false, std::memory_order_release);
        m_writerCpuNs.store(nanoseconds(CLOCK_THREAD_CPUTIME_ID), std::memory_order_relaxed);
        const quint64 before = m_bytesWritten.load(std::memory_order_relaxed);
        if (!writeBlock())
            return;
        const auto now = std::chrono::steady_clock::now();
        if (m_bytesWritten.load(std::memory_order_relaxed) != before
            || now - lastFlush >= FlushInterval) {
            if (!flush()) {
                end(Ending::WriteError, m_writeError);
                return;
            }
            lastFlush = now;
        }
        if (stopAsked)
            return; // stop() closes the file
    }
}

bool CaptureFileWriter::writeBlock()
{
    CaptureRing::Datagram datagram;
    while (m_ring.peek(&datagram)) {
        const quint64 recordBytes = PcapRecordHeaderSize + HeadersSize + quint64(datagram.length);
        if (m_bytesWritten.load(std::memory_order_relaxed) + recordBytes > m_sizeLimit) {
            m_accepting.store(false, std::memory_order_release);
            if (!flush())
                end(Ending::WriteError, m_writeError);
            else
                end(Ending::SizeLimit, QString());
            return false;
        }
        if (!writeRecord(datagram)) {
            end(Ending::WriteError, m_writeError);
            return false;
        }
        m_ring.release();
    }
    return true;
}

bool CaptureFileWriter::writeRecord(const CaptureRing::Datagram &datagram)
{
    quint8 *ip = m_record.get();
    ip[Ipv4Layout::VersionAndHeaderLength] =
            quint8(Ipv4Layout::Version << 4 | Ipv4Layout::MinimumHeaderWords);
    ip[Ipv4Layout::TypeOfService] = 0;
    put16(ip + Ipv4Layout::TotalLength, quint16(HeadersSize + datagram.length));
    put16(ip + Ipv4Layout::Identification, m_identification++);
    put16(ip + Ipv4Layout::FlagsAndFragmentOffset, 0);
    ip[Ipv4Layout::TimeToLive] = 64;
    ip[Ipv4Layout::Protocol] = Ipv4Layout::ProtocolUdp;
    put16(ip + Ipv4Layout::HeaderChecksum, 0);
    put32(ip + Ipv4Layout::Source, datagram.source);
    put32(ip + Ipv4Layout::Destination, datagram.destination);
    put16(ip + Ipv4Layout::HeaderChecksum, ipv4Checksum(ip));
    quint8 *udp = ip + Ipv4Layout::MinimumSize;
    put16(udp + UdpLayout::SourcePort, datagram.sourcePort);
    put16(udp + UdpLayout::DestinationPort, datagram.destinationPort);
    put16(udp + UdpLayout::Length, quint16(UdpLayout::Size + datagram.length));
    put16(udp + UdpLayout::Checksum, 0); // none: the datagram arrived whole
    std::memcpy(udp + UdpLayout::Size, datagram.data, size_t(datagram.length));

    const qint64 timeUs = (datagram.arrivalNs + m_realtimeOffsetNs) / 1000;
    pcap_pkthdr header = {};
    header.ts.tv_sec = time_t(timeUs / 1'000'000);
    header.ts.tv_usec = suseconds_t(timeUs % 1'000'000);
    header.caplen = bpf_u_int32(HeadersSize + datagram.length);
    header.len = header.caplen;
    pcap_dump(reinterpret_cast<u_char *>(m_dumper), &header, m_record.get());
    if (std::ferror(pcap_dump_file(m_dumper))) {
        m_writeError = systemError(errno);
        return false;
    }
    m_bytesWritten.fetch_add(PcapRecordHeaderSize + header.caplen, std::memory_order_relaxed);
    m_datagrams.fetch_add(1, std::memory_order_relaxed);
    return true;
}

bool CaptureFileWriter::flush()
{
    if (pcap_dump_flush(m_dumper) != 0) {
        m_writeError = systemError(errno);
        return false;
    }
    m_flushedBytes = m_bytesWritten.load(std::memory_order_relaxed);
    return true;
}

// Closes the file; after a failed write, cut back to what the last good flush left in it.
void CaptureFileWriter::end(Ending ending, const QString &error)
{
    m_accepting.store(false, std::memory_order_release);
    if (m_dumper) {
        pcap_dump_close(m_dumper);
        m_dumper = nullptr;
    }
    if (m_pcap) {
        pcap_close(m_pcap);
        m_pcap = nullptr;
    }
    QString message;
    if (ending == Ending::WriteError && m_descriptor >= 0) {
        const bool cut = ::ftruncate(m_descriptor, off_t(m_flushedBytes)) == 0;
        m_bytesWritten = m_flushedBytes;
        message = QStringLiteral("Capture stopped: cannot write %1 (%2).")
                          .arg(QFileInfo(m_path).fileName(), error);
        if (cut)
            message += QStringLiteral(" The file holds what was written before.");
    } else if (ending == Ending::WriteError) {
        message = error;
    }
    if (m_descriptor >= 0) {
        ::close(m_descriptor);
        m_descriptor = -1;
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_ending = ending;
    m_error = message;
}
