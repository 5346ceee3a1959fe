#include "capturefilereader.h"

#include "pcapngfirstsection.h"

#include <QDir>
#include <QFileInfo>

#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace {

// With nanosecond precision libpcap puts nanoseconds in tv_usec. A pcapng file's 64-bit times
// can lie beyond what nanoseconds since 1970 hold: such times saturate.
qint64 nanosecondsOf(const timeval &time)
{
    constexpr qint64 NanosecondsPerSecond = 1000000000;
    constexpr qint64 LastSecond = std::numeric_limits<qint64>::max() / NanosecondsPerSecond - 1;
    const qint64 seconds = std::clamp(qint64(time.tv_sec), -LastSecond, LastSecond);
    return seconds * NanosecondsPerSecond
        + std::clamp(qint64(time.tv_usec), qint64(0), NanosecondsPerSecond - 1);
}

} // namespace

CaptureFileReader::~CaptureFileReader()
{
    close();
}

bool CaptureFileReader::open(const QString &path)
{
    close();
    const QFileInfo info(path);
    const QString name = QDir::toNativeSeparators(path);
    if (!info.exists()) {
        m_error = QStringLiteral("The file %1 does not exist.").arg(name);
        return false;
    }
    if (info.isDir()) {
        m_error = QStringLiteral("%1 is a folder, not a capture file.").arg(name);
        return false;
    }
    // Opening a pipe or a device could wait for ever, or read for ever.
    if (!info.isFile()) {
        m_error = QStringLiteral("%1 is not a file that holds a capture.").arg(name);
        return false;
    }
    FILE *stream = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!stream) {
        const int openError = errno;
        m_error = openError == EACCES
            ? QStringLiteral("You are not allowed to read %1.").arg(name)
            : QStringLiteral("%1 cannot be opened: %2.")
                  .arg(name, QString::fromLocal8Bit(std::strerror(openError)));
        return false;
    }
    if (info.size() == 0) {
        std::fclose(stream);
        m_error = QStringLiteral("%1 is empty.").arg(name);
        return false;
    }
    return open(stream, name);
}

bool CaptureFileReader::open(FILE *stream, const QString &name)
{
    close();
    m_name = name;
    char error[PCAP_ERRBUF_SIZE] = {};
    FILE *firstSection = PcapngFirstSection::open(stream);
    if (!firstSection) {
        m_error = QStringLiteral("%1 cannot be read: %2.")
                      .arg(name, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // Nanosecond precision: libpcap scales the times of a file in microseconds up to it.
    m_pcap = pcap_fopen_offline_with_tstamp_precision(firstSection, PCAP_TSTAMP_PRECISION_NANO,
                                                      error);
    if (!m_pcap) {
        std::fclose(firstSection);
        m_error = QStringLiteral("%1 is not a capture file that can be read (pcap or pcapng): %2")
                      .arg(name, QString::fromLocal8Bit(error));
        return false;
    }
    return openLinkLayer();
}

bool CaptureFileReader::openLinkLayer()
{
    const int dataLinkType = pcap_datalink(m_pcap);
    if (CaptureFraming::linkLayerOf(dataLinkType, &m_linkLayer))
        return true;
    const char *description = pcap_datalink_val_to_description(dataLinkType);
    m_error = QStringLiteral("%1 holds packets of the link type \"%2\" (%3), which cannot be "
                             "read: only Ethernet, Linux cooked, raw IP and BSD loopback captures "
                             "can.")
                  .arg(m_name, description ? QString::fromLatin1(description)
                                           : QStringLiteral("unknown"))
                  .arg(dataLinkType);
    pcap_close(m_pcap);
    m_pcap = nullptr;
    return false;
}

void CaptureFileReader::close()
{
    if (m_pcap)
        pcap_close(m_pcap);
    m_pcap = nullptr;
    m_error.clear();
    m_counts = Counts();
}

bool CaptureFileReader::isOpen() const
{
    return m_pcap != nullptr;
}

bool CaptureFileReader::readNext(CapturedDatagram *datagram)
{
    m_passedOverLimit = false;
    if (!m_pcap || !m_error.isEmpty())
        return false;
    for (quint64 passedOver = 0;; ++passedOver) {
        if (m_passOverLimit != 0 && passedOver == m_passOverLimit) {
            m_passedOverLimit = true;
            return false;
        }
        pcap_pkthdr *header = nullptr;
        const u_char *data = nullptr;
        const int result = pcap_next_ex(m_pcap, &header, &data);
        if (result == PCAP_ERROR_BREAK)
            return false;
        if (result != 1) {
            failRead();
            return false;
        }
        ++m_counts.records;
        const int captured = int(qMin<bpf_u_int32>(header->caplen, INT_MAX));
        const int wire = int(qMin<bpf_u_int32>(header->len, INT_MAX));
        const CaptureFraming::Verdict verdict =
            CaptureFraming::frame(m_linkLayer, data, captured, wire, datagram);
        count(verdict);
        if (verdict == CaptureFraming::Verdict::Datagram) {
            datagram->timeNs = nanosecondsOf(header->ts);
            return true;
        }
    }
}

void CaptureFileReader::failRead()
{
    const QString detail = QString::fromLocal8Bit(pcap_geterr(m_pcap));
    const QString records = m_counts.records == 1
        ? QStringLiteral("1 record")
        : QStringLiteral("%1 records").arg(m_counts.records);
    if (detail.contains(QLatin1String("truncated")))
        m_error = QStringLiteral("%1 is cut short: it ends in the middle of a record, after %2 "
                                 "read whole (%3).")
                      .arg(m_name, records, detail);
    else
        m_error = QStringLiteral("%1 is damaged after %2: %3").arg(m_name, records, detail);
}

void CaptureFileReader::count(CaptureFraming::Verdict verdict)
{
    switch (verdict) {
    case CaptureFraming::Verdict::Datagram: ++m_counts.datagrams; break;
    case CaptureFraming::Verdict::NotIpv4: ++m_counts.notIpv4; break;
    case CaptureFraming::Verdict::NotUdp: ++m_counts.notUdp; break;
    case CaptureFraming::Verdict::OtherPorts: ++m_counts.otherPorts; break;
    case CaptureFraming::Verdict::Fragment: ++m_counts.fragments; break;
    case CaptureFraming::Verdict::Malformed: ++m_counts.malformed; break;
    }
}

qint64 CaptureFileReader::position() const
{
    // libpcap reads a file record by record with fread on this stream, so between two records
    // the stream's offset is exactly the next record's (for pcapng, the next block's).
    return m_pcap ? qint64(std::ftell(pcap_file(m_pcap))) : -1;
}

bool CaptureFileReader::seek(qint64 position)
{
    if (!m_pcap || position < 0)
        return false;
    FILE *stream = pcap_file(m_pcap);
    if (std::fseek(stream, long(position), SEEK_SET) != 0)
        return false;
    m_error.clear();
    return true;
}

QString CaptureFileReader::errorString() const
{
    return m_error;
}

QString CaptureFileReader::linkTypeName() const
{
    return m_pcap ? CaptureFraming::linkLayerName(m_linkLayer) : QString();
}

CaptureFileReader::Counts CaptureFileReader::counts() const
{
    return m_counts;
}
