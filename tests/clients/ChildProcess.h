#pragma once
// A program the test starts, with its standard output and error in a file
// and a few environment values of its own; ended (TERM, then KILL) and
// waited for when the object goes, so no test leaves a process behind.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/FileText.h"

class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& outputPath, const std::map<std::string, std::string>& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void signal(int sig);
    // Exit status once ended within timeoutMs; -1 still running, -2 killed by a signal.
    int wait(int timeoutMs);
    // SIGTERM, up to timeoutMs for it to end, then SIGKILL.
    int stop(int timeoutMs = 5000);
    std::string output() const;
    // Waits up to timeoutMs for text to appear in the output after offset
    // (bytes); returns the offset just past it, or std::string::npos.
    size_t waitForText(const std::string& text, int timeoutMs, size_t offset = 0) const;

private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string outputPath_;
};

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program to its end (killed after timeoutMs).
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env = {}, int timeoutMs = 20000);
