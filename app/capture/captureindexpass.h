#ifndef CAPTUREINDEXPASS_H
#define CAPTUREINDEXPASS_H

#include "capturefilereader.h"

#include <QList>
#include <QString>

#include <atomic>

// One pass over a capture file before it is played: where every Nth datagram lies in the file
// and when it was seen, so that a seek starts close to its target, and the totals. N doubles
// whenever the entries would pass MaxEntries, so that what is kept stays bounded whatever the
// file's size. Meant to run on a worker thread; reads nothing of the caller's meanwhile.
class CaptureIndexPass
{
public:
    static constexpr int MaxEntries = 4096;

    struct Entry
    {
        qint64 position = 0; // before the datagram, for CaptureFileReader::seek()
        qint64 timeNs = 0;
    };

    struct Result
    {
        bool opened = false;
        bool cancelled = false;
        QString error; // why the file could not be opened, or why reading it ended early
        QString linkType;
        QList<Entry> entries;
        quint64 datagrams = 0;
        qint64 firstNs = 0;
        qint64 lastNs = 0;
        CaptureFileReader::Counts counts;
        // The last entry at or before timeNs (the first entry when none is).
        Entry entryBefore(qint64 timeNs) const;
    };

    // progressPerMille follows the pass through the file; cancel stops it at the next datagram.
    static Result run(const QString &path, std::atomic<int> *progressPerMille,
                      const std::atomic<bool> *cancel);
};

#endif // CAPTUREINDEXPASS_H
