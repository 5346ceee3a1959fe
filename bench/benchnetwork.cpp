#include "benchnetwork.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace BenchNetwork {

namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno)));
}

QByteArray readProcFile(const char *path)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll(); // proc files report size 0: read until the end
}

} // namespace

int boundSocket(quint16 port, int receiveBuffer, QString *error)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = systemError("socket");
        return -1;
    }
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        *error = systemError("bind");
        ::close(fd);
        return -1;
    }
    return fd;
}

Counters readCounters()
{
    Counters counters;
    // Two "Udp:" lines: the field names, then the values.
    const QList<QByteArray> lines = readProcFile("/proc/net/snmp").split('\n');
    QList<QByteArray> names;
    for (const QByteArray &line : lines) {
        if (!line.startsWith("Udp: "))
            continue;
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (names.isEmpty()) {
            names = fields;
            continue;
        }
        for (int i = 1; i < fields.size() && i < names.size(); ++i) {
            if (names.at(i) == "InDatagrams")
                counters.inDatagrams = fields.at(i).toULongLong();
            else if (names.at(i) == "OutDatagrams")
                counters.outDatagrams = fields.at(i).toULongLong();
            else if (names.at(i) == "RcvbufErrors")
                counters.receiveBufferErrors = fields.at(i).toULongLong();
        }
        break;
    }
    // softnet_stat: one line per CPU, hexadecimal; the second column counts backlog drops.
    for (const QByteArray &line : readProcFile("/proc/net/softnet_stat").split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 1)
            counters.backlogDrops += fields.at(1).toULongLong(nullptr, 16);
    }
    return counters;
}

qint64 residentKiB()
{
    for (const QByteArray &line : readProcFile("/proc/self/status").split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).simplified().split(' ').value(0).toLongLong();
    }
    return -1;
}

double processCpuSeconds()
{
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

quint64 processWakeUps()
{
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return quint64(usage.ru_nvcsw);
}

} // namespace BenchNetwork
