#include "nonetwork.h"

#include <QString>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace NoNetwork {

namespace {

#if defined(__x86_64__)
constexpr quint32 OwnArchitecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr quint32 OwnArchitecture = AUDIT_ARCH_AARCH64;
#else
#error "add this machine's AUDIT_ARCH_ value"
#endif

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

bool forbidInternetSockets(QString *why)
{
    constexpr quint32 Refuse = SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA);
    // Another architecture's system calls are refused altogether: their numbers differ.
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, OwnArchitecture, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        // The family: the low half of the first argument (little-endian).
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_INET, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_INET6, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_PACKET, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, Refuse),
    };
    sock_fprog filter = {};
    filter.len = sizeof program / sizeof program[0];
    filter.filter = program;
    // Without it an unprivileged process may not install a filter.
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        *why = systemError("prctl(PR_SET_NO_NEW_PRIVS)");
        return false;
    }
    if (syscall(__NR_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &filter) != 0) {
        *why = systemError("seccomp");
        return false;
    }
    return true;
}

} // namespace NoNetwork
