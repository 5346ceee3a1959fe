#include "capturewriter.h"

#include "testcapturefiles.h"

#include <pcap/pcap.h>

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
    TestCaptureFiles::Ipv4Udp packet;
    packet.source = source;
    packet.destination = destination;
    packet.sourcePort = sourcePort;
    packet.destinationPort = destinationPort;
    packet.payload = payload;
    m_frame = TestCaptureFiles::ethernet(packet.bytes());
    pcap_pkthdr header{};
    header.ts.tv_sec = timeNs / 1'000'000'000;
    header.ts.tv_usec = suseconds_t(timeNs % 1'000'000'000); // ns: the file's precision
    header.caplen = header.len = bpf_u_int32(m_frame.size());
    pcap_dump(reinterpret_cast<u_char *>(m_dumper), &header,
              reinterpret_cast<const u_char *>(m_frame.constData()));
}
