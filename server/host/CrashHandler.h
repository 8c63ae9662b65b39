#pragma once
// Last words of a crashing server: a report with the signal, the faulting
// address and a backtrace, "Fatal Error" on standard error, and a failure
// exit. Installed by the main thread first thing; the handlers then run on
// whichever thread crashes.

#include <string>

class CrashHandler {
public:
    // Exit status of a crashed process.
    static constexpr int kExitCode = 1;

    // Handles SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT and std::terminate,
    // writing the report to dumpPath (replaced at each crash).
    static void install(const std::string& dumpPath);
};
