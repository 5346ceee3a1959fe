#ifndef FUZZENVIRONMENT_H
#define FUZZENVIRONMENT_H

// Process set-up shared by the fuzz targets, called from LLVMFuzzerInitialize.
namespace FuzzEnvironment {

// Aborts with a message unless the process runs in a private network namespace made by
// tests/netns-run: a target that may send datagrams must never reach a real network.
void requirePrivateNetwork(const char *targetName);

// Creates the application object that sockets and timers need, and silences the program's
// diagnostics (standard output and Qt's debug output): at millions of inputs they would only
// slow the run down and bury libFuzzer's own report. Set VARDOLUX_FUZZ_VERBOSE=1 to keep them
// when reproducing a single input.
void setUp(int *argc, char ***argv);

// Reports a broken invariant of the target and aborts, so that libFuzzer keeps the input.
[[noreturn]] void invariantBroken(const char *targetName, const char *condition);

} // namespace FuzzEnvironment

#define FUZZ_REQUIRE(target, condition)                                                        \
    do {                                                                                       \
        if (!(condition))                                                                      \
            FuzzEnvironment::invariantBroken(target, #condition);                              \
    } while (false)

#endif // FUZZENVIRONMENT_H
