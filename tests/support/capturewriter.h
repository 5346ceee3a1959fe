#ifndef CAPTUREWRITER_H
#define CAPTUREWRITER_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

typedef struct pcap pcap_t;
typedef struct pcap_dumper pcap_dumper_t;

// A pcap file (Ethernet, ns timestamps) written by libpcap's dumper, of UDP datagrams laid out
// by TestCaptureFiles, for the tests and benchmarks that play a capture of known content.
class CaptureWriter
{
public:
    explicit CaptureWriter(const QString &path);
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter &) = delete;
    CaptureWriter &operator=(const CaptureWriter &) = delete;

    bool isOpen() const { return m_dumper != nullptr; }
    // Addresses in host byte order.
    void add(qint64 timeNs, quint32 source, quint16 sourcePort, quint32 destination,
             quint16 destinationPort, const QByteArray &payload);
    void close();

private:
    pcap_t *m_pcap = nullptr;
    pcap_dumper_t *m_dumper = nullptr;
    QByteArray m_frame;
};

#endif // CAPTUREWRITER_H
