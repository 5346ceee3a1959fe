#ifndef EVENTLOGFILE_H
#define EVENTLOGFILE_H

#include <QFile>
#include <QString>

struct DmxEvent;

// The events appended to a text file while the program runs, one line each, on the disk at
// once (a crash loses none). At the size limit the file becomes NAME.1, replacing the one
// before, and a new one starts: at most twice the limit on the disk. A failed write is
// reported once, until a write succeeds again; the log in memory goes on regardless.
class EventLogFile
{
public:
    static constexpr qint64 DefaultSizeLimit = 10 * 1024 * 1024;

    EventLogFile() = default;

    // An empty path writes nothing.
    void setPath(const QString &path);
    QString path() const { return m_path; }
    void setSizeLimit(qint64 bytes) { m_sizeLimit = bytes; }

    // False when the line did not reach the file. *newError: whether this failure is the
    // first since the file last worked, with the reason in errorString().
    bool append(const DmxEvent &event, bool *newError = nullptr);
    QString errorString() const { return m_error; }

private:
    bool open();
    bool rotate();
    bool fail(const QString &reason, bool *newError);

    QString m_path;
    QFile m_file;
    qint64 m_sizeLimit = DefaultSizeLimit;
    QString m_error;
    bool m_failing = false;
};

#endif // EVENTLOGFILE_H
