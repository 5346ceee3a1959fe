#ifndef PHONEFLOOD_H
#define PHONEFLOOD_H

#include <QStringList>
#include <QtGlobal>

// A flood against the phone view's listening socket, sent by a process of its own in the peer
// namespace so that the process that measures is not the one that sends. A test or benchmark
// starts its own program again with command()'s arguments, and its main() hands them to
// runIfAsked() first. Every flood ends after its count or its seconds, whichever comes first,
// and prints "opened N" (the connections the kernel completed) on standard output.
namespace PhoneFlood {

enum class Kind {
    Connections,   // opened and dropped at once, half of them with a reset
    MalformedHttp, // each sends garbage, an endless header line or bare CRs, then closes
    SlowRequests,  // held open from the given sources, each sending one byte a second
};

// The arguments of nsenter that run the program in the peer namespace with the flood's.
QStringList command(const QString &program, Kind kind, quint16 port, int count, int seconds,
                    const QStringList &sources = QStringList());

// Runs the flood when the arguments ask for one and returns its exit code; -1 otherwise.
int runIfAsked(int argc, char **argv);

} // namespace PhoneFlood

#endif // PHONEFLOOD_H
