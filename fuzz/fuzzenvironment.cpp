#include "fuzzenvironment.h"
#include "privatenetwork.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

namespace {

void dropAllButFatal(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "fatal: %s\n", qPrintable(message));
        std::abort();
    }
}

bool sameNetworkNamespaceAsInit()
{
    char own[64] = {};
    char init[64] = {};
    const ssize_t ownLength = readlink("/proc/self/ns/net", own, sizeof own - 1);
    const ssize_t initLength = readlink("/proc/1/ns/net", init, sizeof init - 1);
    return ownLength > 0 && initLength > 0 && std::strcmp(own, init) == 0;
}

// netns-run's namespace holds loopback and, with --peer, the veth "art0" to the peer namespace;
// any other interface that is up means this is some real host's network.
const char *foreignInterfaceUp()
{
    static char name[IF_NAMESIZE + 1];
    ifaddrs *interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0)
        return "(interfaces cannot be listed)";
    const char *found = nullptr;
    for (const ifaddrs *entry = interfaces; entry && !found; entry = entry->ifa_next) {
        if (!(entry->ifa_flags & IFF_UP) || !entry->ifa_name)
            continue;
        if (std::strcmp(entry->ifa_name, "lo") != 0 && std::strcmp(entry->ifa_name, "art0") != 0) {
            std::snprintf(name, sizeof name, "%s", entry->ifa_name);
            found = name;
        }
    }
    freeifaddrs(interfaces);
    return found;
}

} // namespace

namespace FuzzEnvironment {

void requirePrivateNetwork(const char *targetName)
{
    // The socket tests' own check first, then two more that need no help from netns-run.
    QString notInside;
    QByteArray notInsideText;
    const char *why = nullptr;
    if (!PrivateNetwork::isInside(&notInside)) {
        notInsideText = notInside.toLocal8Bit();
        why = notInsideText.constData();
    } else if (sameNetworkNamespaceAsInit()) {
        why = "this is the network namespace of process 1";
    }
    const char *interface = why ? nullptr : foreignInterfaceUp();
    if (interface)
        why = "an interface other than lo and art0 is up";
    if (why) {
        std::fprintf(stderr,
                     "%s: refusing to start outside a private network namespace (%s%s%s).\n"
                     "It sends datagrams; run it as: tests/netns-run --peer %s [libFuzzer "
                     "options] CORPUS...\n",
                     targetName, why, interface ? ": " : "", interface ? interface : "",
                     targetName);
        std::abort();
    }
}

void setUp(int *argc, char ***argv)
{
    const bool verbose = qEnvironmentVariable("VARDOLUX_FUZZ_VERBOSE") == QLatin1String("1");
    if (!verbose) {
        const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (devNull >= 0) {
            std::fflush(stdout);
            ::dup2(devNull, STDOUT_FILENO);
            ::close(devNull);
        }
        // Disabled categories skip formatting altogether; the handler catches the rest.
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n"
                                                        "*.warning=false"));
        qInstallMessageHandler(dropAllButFatal);
    }
    // Lives until the process ends: libFuzzer never returns to a point where it could go.
    new QCoreApplication(*argc, *argv);
}

void invariantBroken(const char *targetName, const char *condition)
{
    std::fprintf(stderr, "%s: invariant broken: %s\n", targetName, condition);
    std::abort();
}

} // namespace FuzzEnvironment
