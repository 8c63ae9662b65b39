#include "server/host/CrashHandler.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"

namespace {

void throwBoom() {
    throw std::runtime_error("boom in handler");
}
// What escapes a noexcept function ends in std::terminate.
void throwOutOfNoexcept() noexcept {
    throwBoom();
}

// Each crash runs in a forked child; the report is read by the parent.
class CrashHandlerDeathTest : public ::testing::Test {
private:
    TempDir dir_;

protected:
    std::string dump_ = dir_.file("sonavel.dmp");
};

}  // namespace

TEST_F(CrashHandlerDeathTest, FaultReportNamesSignalAddressAndBacktrace) {
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    EXPECT_EXIT(
        {
            CrashHandler::install(dump_);
            *static_cast<volatile char*>(page) = 1;
        },
        ::testing::ExitedWithCode(CrashHandler::kExitCode), "^Fatal Error\n$");
    std::string report = readFile(dump_);
    char address[32];
    std::snprintf(address, sizeof address, "address: %p\n", page);
    EXPECT_NE(report.find("signal: 11 SIGSEGV\n"), std::string::npos) << report;
    EXPECT_NE(report.find(address), std::string::npos) << report;
    size_t trace = report.find("backtrace:\n");
    ASSERT_NE(trace, std::string::npos) << report;
    EXPECT_GT(report.size(), trace + 12) << "no frames: " << report;
    munmap(page, 4096);
}

TEST_F(CrashHandlerDeathTest, EveryHandledSignalEndsInFatalError) {
    struct Case {
        int sig;
        const char* line;
    } cases[] = {
        {SIGBUS, "signal: 7 SIGBUS\n"},
        {SIGILL, "signal: 4 SIGILL\n"},
        {SIGFPE, "signal: 8 SIGFPE\n"},
        {SIGABRT, "signal: 6 SIGABRT\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::remove(dump_.c_str());
        EXPECT_EXIT(
            {
                CrashHandler::install(dump_);
                raise(c.sig);
            },
            ::testing::ExitedWithCode(CrashHandler::kExitCode), "^Fatal Error\n$");
        EXPECT_NE(readFile(dump_).find(c.line), std::string::npos) << readFile(dump_);
    }
}

TEST_F(CrashHandlerDeathTest, UncaughtExceptionIsReportedWithItsText) {
    EXPECT_EXIT(
        {
            CrashHandler::install(dump_);
            throwOutOfNoexcept();
        },
        ::testing::ExitedWithCode(CrashHandler::kExitCode), "^Fatal Error\n$");
    EXPECT_NE(readFile(dump_).find("reason: uncaught exception: boom in handler\n"),
              std::string::npos)
        << readFile(dump_);
}

TEST_F(CrashHandlerDeathTest, UnwritableDumpStillEndsInFatalError) {
    dump_ = "/nonexistent-folder/sonavel.dmp";
    EXPECT_EXIT(
        {
            CrashHandler::install(dump_);
            raise(SIGSEGV);
        },
        ::testing::ExitedWithCode(CrashHandler::kExitCode), "^Fatal Error\n$");
}
