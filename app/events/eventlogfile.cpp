#include "eventlogfile.h"

#include "eventtexts.h"

#include <QCoreApplication>

void EventLogFile::setPath(const QString &path)
{
    if (path == m_path)
        return;
    m_file.close();
    m_path = path;
    m_failing = false;
    m_error.clear();
}

bool EventLogFile::open()
{
    if (m_file.isOpen())
        return true;
    m_file.setFileName(m_path);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Append);
}

bool EventLogFile::rotate()
{
    m_file.close();
    const QString older = m_path + QStringLiteral(".1");
    QFile::remove(older);
    if (!QFile::rename(m_path, older)) {
        m_error = QCoreApplication::translate("EventLogFile", "cannot rename %1 to %2")
                          .arg(m_path, older);
        return false;
    }
    return open();
}

bool EventLogFile::append(const DmxEvent &event, bool *newError)
{
    if (newError)
        *newError = false;
    if (m_path.isEmpty())
        return true;
    if (!open())
        return fail(m_file.errorString(), newError);
    const QByteArray line = EventTexts::logLine(event).toUtf8() + '\n';
    if (m_file.size() > 0 && m_file.size() + line.size() > m_sizeLimit && !rotate())
        return fail(m_error.isEmpty() ? m_file.errorString() : m_error, newError);
    if (m_file.write(line) != line.size() || !m_file.flush()) {
        const QString reason = m_file.errorString();
        // Opened afresh next time: a disk that has room again takes the next line.
        m_file.close();
        return fail(reason, newError);
    }
    m_failing = false;
    m_error.clear();
    return true;
}

bool EventLogFile::fail(const QString &reason, bool *newError)
{
    if (!m_failing && newError)
        *newError = true;
    m_failing = true;
    m_error = reason;
    return false;
}
