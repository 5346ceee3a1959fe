#include "smallfilesystem.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace SmallFileSystem {

namespace {

// Filling anything larger would take a real disk's space; the wrapper mounts 16 KiB.
constexpr unsigned long long LargestFillable = 64 * 1024;
const char FillerName[] = "filler";

} // namespace

QString path()
{
    return qEnvironmentVariable("VARDOLUX_SMALL_FS");
}

bool isInside(QString *why)
{
    const QString directory = path();
    if (directory.isEmpty()) {
        *why = QStringLiteral("VARDOLUX_SMALL_FS is not set");
        return false;
    }
    char own[64] = {};
    if (readlink("/proc/self/ns/mnt", own, sizeof own - 1) <= 0) {
        *why = QStringLiteral("cannot read this process's mount namespace");
        return false;
    }
    if (qgetenv("VARDOLUX_OUTER_MOUNTNS") == QByteArray(own)) {
        *why = QStringLiteral("still in the mount namespace fulldisk-run was started from");
        return false;
    }
    struct statfs info;
    if (statfs(QFile::encodeName(directory).constData(), &info) != 0) {
        *why = QStringLiteral("%1: %2").arg(directory, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const unsigned long long size = (unsigned long long)info.f_blocks * info.f_bsize;
    if (info.f_type != TMPFS_MAGIC || size > LargestFillable) {
        *why = QStringLiteral("%1 is not a tmpfs of at most 64 KiB").arg(directory);
        return false;
    }
    return true;
}

QStringList files()
{
    return QDir(path()).entryList(QDir::Files | QDir::Hidden);
}

bool clear(QString *why)
{
    QDir directory(path());
    const QStringList names = directory.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (!directory.remove(name)) {
            *why = QStringLiteral("cannot remove %1").arg(directory.filePath(name));
            return false;
        }
    }
    return true;
}

bool fill(QString *why)
{
    QString notInside;
    if (!isInside(&notInside)) {
        *why = notInside;
        return false;
    }
    const QByteArray filler = QFile::encodeName(QDir(path()).filePath(QLatin1String(FillerName)));
    const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd < 0) {
        *why = QStringLiteral("cannot create the filler: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const char block[512] = {};
    int lastError = 0;
    for (;;) {
        const ssize_t written = ::write(fd, block, sizeof block);
        if (written < 0) {
            lastError = errno;
            break;
        }
    }
    ::close(fd);
    struct statvfs space;
    if (lastError != ENOSPC || statvfs(path().toLocal8Bit().constData(), &space) != 0
        || space.f_bavail != 0) {
        *why = QStringLiteral("the file system did not fill up (%1)")
                       .arg(QString::fromLocal8Bit(strerror(lastError)));
        return false;
    }
    return true;
}

} // namespace SmallFileSystem
