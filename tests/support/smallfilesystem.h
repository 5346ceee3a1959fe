#ifndef SMALLFILESYSTEM_H
#define SMALLFILESYSTEM_H

#include <QString>
#include <QStringList>

// The small tmpfs that tests/fulldisk-run mounts in a private mount namespace, for tests of what
// a save does when the disk is full. Outside it these tests skip.
namespace SmallFileSystem {

// True when this process runs inside fulldisk-run and its file system is there; otherwise false
// with the reason.
bool isInside(QString *why);

// Its directory (empty outside).
QString path();

// Removes every file in it.
bool clear(QString *why);

// Fills it with a filler file until the kernel refuses more, and checks that no block is left.
bool fill(QString *why);

// The names of the files in it, hidden ones included: what a failed write must leave as it was.
QStringList files();

} // namespace SmallFileSystem

#define VARDOLUX_REQUIRE_SMALL_FILE_SYSTEM()                                                    \
    do {                                                                                       \
        QString why_;                                                                          \
        if (!SmallFileSystem::isInside(&why_))                                                 \
            QSKIP(qPrintable(QStringLiteral("needs the full file system of tests/fulldisk-run "  \
                                            "(ctest runs it as the _fulldisk test): ")         \
                             + why_));                                                         \
    } while (false)

#define VARDOLUX_CLEAR_SMALL_FILE_SYSTEM()                                                      \
    do {                                                                                       \
        QString why_;                                                                          \
        QVERIFY2(SmallFileSystem::clear(&why_), qPrintable(why_));                             \
    } while (false)

#define VARDOLUX_FILL_SMALL_FILE_SYSTEM()                                                       \
    do {                                                                                       \
        QString why_;                                                                          \
        QVERIFY2(SmallFileSystem::fill(&why_), qPrintable(why_));                              \
    } while (false)

// The start of every full-disk test: skipped outside fulldisk-run, else an empty file system.
#define VARDOLUX_REQUIRE_EMPTY_SMALL_FILE_SYSTEM()                                              \
    do {                                                                                       \
        VARDOLUX_REQUIRE_SMALL_FILE_SYSTEM();                                                  \
        VARDOLUX_CLEAR_SMALL_FILE_SYSTEM();                                                    \
    } while (false)

#endif // SMALLFILESYSTEM_H
