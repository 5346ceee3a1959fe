#include "capturewriter.h"

#include <pcap/pcap.h>

#include <algorithm>

namespace {

constexpr int EthernetSize = 14;
constexpr int Ipv4Size = 20;
constexpr int UdpSize = 8;

void put16(uchar *at, quint16 value)
{
    at[0] = uchar(value >> 8);
    at[1] = uchar(value);
}

void put32(uchar *at, quint32 value)
{
    put16(at, quint16(value >> 16));
    put16(at + 2, quint16(value));
}

} // namespace

CaptureWriter::CaptureWriter(const QString &path)
{
    m_pcap = pcap_open_dead_with_tstamp_precision(DLT_EN10MB, 65535, PCAP_TSTAMP_PRECISION_NANO);
    if (m_pcap)
        m_dumper = pcap_dump_open(m_pcap, path.toLocal8Bit().constData());
}

CaptureWriter::~CaptureWriter()
{
    close();
    if (m_pcap)
        pcap_close(m_pcap);
}

void CaptureWriter::close()
{
    if (m_dumper)
        pcap_dump_close(m_dumper);
    m_dumper = nullptr;
}

void CaptureWriter::add(qint64 timeNs, quint32 source, quint16 sourcePort, quint32 destination,
                        quint16 destinationPort, const QByteArray &payload)
{
    if (!m_dumper)
        return;
    const int size = EthernetSize + Ipv4Size + UdpSize + int(payload.size());
    m_frame.fill('\0', size);
    auto *frame = reinterpret_cast<uchar *>(m_frame.data());
    frame[0] = 0xFF; // broadcast destination, locally administered source
    frame[1] = frame[2] = frame[3] = frame[4] = frame[5] = 0xFF;
    frame[6] = 0x02;
    put32(frame + 8, source);
    put16(frame + 12, 0x0800);
    uchar *ip = frame + EthernetSize;
    ip[0] = 0x45;
    put16(ip + 2, quint16(Ipv4Size + UdpSize + payload.size()));
    ip[8] = 64;
    ip[9] = 17; // UDP
    put32(ip + 12, source);
    put32(ip + 16, destination);
    quint32 sum = 0;
    for (int i = 0; i < Ipv4Size; i += 2)
        sum += quint32(ip[i] << 8 | ip[i + 1]);
    sum = (sum & 0xFFFF) + (sum >> 16);
    put16(ip + 10, quint16(~(sum + (sum >> 16))));
    uchar *udp = ip + Ipv4Size;
    put16(udp, sourcePort);
    put16(udp + 2, destinationPort);
    put16(udp + 4, quint16(UdpSize + payload.size()));
    std::copy(payload.cbegin(), payload.cend(), udp + UdpSize);
    pcap_pkthdr header{};
    header.ts.tv_sec = timeNs / 1'000'000'000;
    header.ts.tv_usec = suseconds_t(timeNs % 1'000'000'000); // ns: the file's precision
    header.caplen = header.len = bpf_u_int32(size);
    pcap_dump(reinterpret_cast<u_char *>(m_dumper), &header, frame);
}
