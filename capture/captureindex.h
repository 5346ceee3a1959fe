#ifndef CAPTUREINDEX_H
#define CAPTUREINDEX_H

#include "capturefilereader.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <vector>

// Where to start reading a capture file for a given time, made in one pass over the file. It
// keeps every Nth datagram's position and time, N doubling whenever the entries would pass
// MaximumEntries, so its memory stays the same whatever the file's size. Built on a worker
// thread: build() reports its progress and stops when asked; afterwards the index only reads.
class CaptureIndex
{
public:
    static constexpr int MaximumEntries = 4096;

    struct Entry
    {
        qint64 position = 0;  // CaptureFileReader::position() before the datagram
        qint64 timeNs = 0;
        quint64 datagram = 0; // its number in the file, from 0
    };

    // bytesRead and fileSize in bytes; called every few thousand datagrams and at the end.
    using Progress = std::function<void(qint64 bytesRead, qint64 fileSize)>;

    // False when the file cannot be opened (errorString() says why) or cancel became true. A
    // file whose reading ended early (cut short, damaged) gives an index of what came before,
    // and errorString() says why it ended.
    bool build(const QString &path, const Progress &progress = Progress(),
               const std::atomic_bool *cancel = nullptr);

    const std::vector<Entry> &entries() const { return m_entries; }
    // How many datagrams apart the entries are.
    quint64 stride() const { return m_stride; }
    // The last entry at or before timeNs, the first for an earlier time; nullptr when empty.
    const Entry *entryAtOrBefore(qint64 timeNs) const;

    quint64 datagrams() const { return m_counts.datagrams; }
    qint64 firstTimeNs() const { return m_firstTimeNs; }
    qint64 lastTimeNs() const { return m_lastTimeNs; }
    CaptureFileReader::Counts counts() const { return m_counts; }
    QString linkTypeName() const { return m_linkTypeName; }
    QString errorString() const { return m_error; }

private:
    void add(qint64 position, qint64 timeNs, quint64 datagram);

    std::vector<Entry> m_entries;
    quint64 m_stride = 1;
    qint64 m_firstTimeNs = 0;
    qint64 m_lastTimeNs = 0;
    CaptureFileReader::Counts m_counts;
    QString m_linkTypeName;
    QString m_error;
};

#endif // CAPTUREINDEX_H
