#pragma once
// A program run by a test with its own environment additions and its
// standard output and error in one file. Killed if still running when the
// object goes. Test thread.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, const std::string& outputFile);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    void signal(int sig);
    // The exit code, 128 + signal number when a signal ended it, or -1 when
    // it still runs after timeoutMs.
    int waitExit(int timeoutMs);
    // Everything it printed so far.
    std::string output() const;

private:
    pid_t pid_ = -1;
    int status_ = -1;
    bool exited_ = false;
    std::string outputFile_;
};
