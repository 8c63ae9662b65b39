#include "server/host/CrashHandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

// Everything the handlers need is prepared at install time: a signal handler
// must not allocate, lock or format through stdio.
char gDumpPath[4096];
alignas(16) char gAltStack[64 * 1024];
std::atomic<long> gCrashingThread{0};

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

const char* signalName(int sig) {
    switch (sig) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGILL:
            return "SIGILL";
        case SIGFPE:
            return "SIGFPE";
        case SIGABRT:
            return "SIGABRT";
        default:
            return "?";
    }
}

// A fixed-size line builder usable inside a signal handler.
class Line {
public:
    Line& text(const char* s) {
        while (*s && len_ < sizeof buf_) {
            buf_[len_++] = *s++;
        }
        return *this;
    }
    Line& dec(long value) {
        char digits[24];
        int n = 0;
        unsigned long v =
            value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
        if (value < 0) {
            text("-");
        }
        while (n) {
            char c[2] = {digits[--n], 0};
            text(c);
        }
        return *this;
    }
    Line& hex(uintptr_t value) {
        text("0x");
        char digits[2 * sizeof value];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[value & 0xF];
            value >>= 4;
        } while (value);
        while (n) {
            char c[2] = {digits[--n], 0};
            text(c);
        }
        return *this;
    }
    void writeTo(int fd) {
        text("\n");
        ssize_t ignored = write(fd, buf_, len_);
        (void)ignored;
        len_ = 0;
    }

private:
    char buf_[1024];
    size_t len_ = 0;
};

// Only the first crashing thread reports; a fault inside the report itself
// ends the process at once instead of waiting on itself.
void claimReport() {
    long self = syscall(SYS_gettid);
    long none = 0;
    if (gCrashingThread.compare_exchange_strong(none, self)) {
        return;
    }
    if (none == self) {
        _exit(CrashHandler::kExitCode);
    }
    for (;;) {
        pause();
    }
}

[[noreturn]] void writeReportAndExit(int sig, const siginfo_t* info, const char* reason) {
    int fd = open(gDumpPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        Line line;
        line.text("sonavel crash report").writeTo(fd);
        line.text("pid: ").dec(getpid()).text(" thread: ").dec(syscall(SYS_gettid)).writeTo(fd);
        if (sig != 0) {
            line.text("signal: ").dec(sig).text(" ").text(signalName(sig)).writeTo(fd);
            line.text("code: ").dec(info ? info->si_code : 0).writeTo(fd);
            uintptr_t addr = info ? reinterpret_cast<uintptr_t>(info->si_addr) : 0;
            line.text("address: ").hex(addr).writeTo(fd);
        }
        if (reason) {
            line.text("reason: ").text(reason).writeTo(fd);
        }
        line.text("backtrace:").writeTo(fd);
        void* frames[64];
        int n = backtrace(frames, 64);
        backtrace_symbols_fd(frames, n, fd);
        close(fd);
    }
    static const char kFatal[] = "Fatal Error\n";
    ssize_t ignored = write(STDERR_FILENO, kFatal, sizeof kFatal - 1);
    (void)ignored;
    _exit(CrashHandler::kExitCode);
}

void onSignal(int sig, siginfo_t* info, void*) {
    claimReport();
    writeReportAndExit(sig, info, nullptr);
}

void onTerminate() {
    claimReport();
    // Not in a signal handler here, so the exception may be looked at.
    char reason[512] = "std::terminate";
    if (std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            std::snprintf(reason, sizeof reason, "uncaught exception: %s", e.what());
        } catch (...) {
            std::snprintf(reason, sizeof reason, "uncaught exception of unknown type");
        }
    }
    writeReportAndExit(0, nullptr, reason);
}

}  // namespace

void CrashHandler::install(const std::string& dumpPath) {
    std::strncpy(gDumpPath, dumpPath.c_str(), sizeof gDumpPath - 1);
    // The first backtrace() loads the unwinder; do it now, not in a handler.
    void* frame;
    backtrace(&frame, 1);

    // A stack overflow leaves no stack for the handler; give it its own.
    stack_t alt{};
    alt.ss_sp = gAltStack;
    alt.ss_size = sizeof gAltStack;
    sigaltstack(&alt, nullptr);

    struct sigaction action {};
    action.sa_sigaction = onSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals) {
        sigaction(sig, &action, nullptr);
    }
    std::set_terminate(onTerminate);
}
