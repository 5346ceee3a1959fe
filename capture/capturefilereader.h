#ifndef CAPTUREFILEREADER_H
#define CAPTUREFILEREADER_H

#include "captureddatagram.h"
#include "captureframing.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>

typedef struct pcap pcap_t;

// Reads the Art-Net and sACN datagrams of a capture file, pcap or pcapng, written by this
// program or by tshark, tcpdump or Wireshark (libpcap's offline reader). Ethernet (with VLAN
// tags), Linux cooked v1 and v2, raw IP and BSD loopback records; everything else in the file
// is passed over and counted.
class CaptureFileReader
{
public:
    struct Counts
    {
        quint64 records = 0, datagrams = 0, notIpv4 = 0, notUdp = 0, otherPorts = 0,
                fragments = 0, malformed = 0;
    };

    CaptureFileReader() = default;
    ~CaptureFileReader();
    CaptureFileReader(const CaptureFileReader &) = delete;
    CaptureFileReader &operator=(const CaptureFileReader &) = delete;

    // False when the file cannot be read as a capture: errorString() says why, in words for a
    // user.
    bool open(const QString &path);
    // The same on a stream already open for reading, which the reader then owns (closed also
    // when opening fails); name is what the messages call it.
    bool open(FILE *stream, const QString &name);
    void close();
    bool isOpen() const;

    // The next IPv4/UDP datagram to or from port 6454 (Art-Net) or 5568 (sACN); false at the
    // end of the file or on an error that ends it (errorString() then non-empty).
    bool readNext(CapturedDatagram *datagram);
    // At most this many records of other traffic are passed over in one readNext() (0: no
    // bound), so that a capture made mostly of other traffic cannot hold its caller up;
    // passedOverLimit() then tells that false means "not yet", not the end.
    void setPassOverLimit(quint64 records) { m_passOverLimit = records; }
    bool passedOverLimit() const { return m_passedOverLimit; }
    // The file offset of the next record, for seek(): an index keeps them.
    qint64 position() const;
    // To a position() seen before in this file; the counts go on from where they are. Of a
    // pcapng file made of several sections only the first is read: libpcap cannot go back into
    // a section once it has read the next one's header.
    bool seek(qint64 position);

    QString errorString() const;
    QString linkTypeName() const;
    Counts counts() const;

private:
    bool openLinkLayer();
    void count(CaptureFraming::Verdict verdict);
    void failRead();

    pcap_t *m_pcap = nullptr;
    CaptureFraming::LinkLayer m_linkLayer = CaptureFraming::LinkLayer::Ethernet;
    QString m_name;
    QString m_error;
    Counts m_counts;
    quint64 m_passOverLimit = 0;
    bool m_passedOverLimit = false;
};

#endif // CAPTUREFILEREADER_H
