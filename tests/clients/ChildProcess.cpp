#include "tests/clients/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

pid_t spawnWithOutput(const std::string& program, const std::vector<std::string>& args,
                      const std::string& outPath, const std::string& errPath,
                      const std::map<std::string, std::string>& env) {
    std::map<std::string, std::string> merged;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const size_t eq = entry.find('=');
        merged[entry.substr(0, eq)] = eq == std::string::npos ? "" : entry.substr(eq + 1);
    }
    for (const auto& [k, v] : env) {
        merged[k] = v;
    }
    std::vector<std::string> envText;
    for (const auto& [k, v] : merged) {
        envText.push_back(k + "=" + v);
    }
    std::vector<char*> envp;
    for (auto& e : envText) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> argText{program};
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argText) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    // fork and exec rather than posix_spawn, for the one thing the child must
    // do before exec: end with the test, even when the test is killed.
    const pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    const pid_t parent = getppid();
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) {
        _exit(127);
    }
    // Its own process group, so that a terminal's Ctrl-C reaches the test only.
    setpgid(0, 0);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err =
        errPath.empty() ? out : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) {
        _exit(127);
    }
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
}

int waitPid(pid_t pid, int timeoutMs, int& status) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int raw = 0;
        const pid_t r = waitpid(pid, &raw, WNOHANG);
        if (r == pid) {
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -2;
            return status;
        }
        if (r < 0 || std::chrono::steady_clock::now() >= until) {
            return r < 0 ? status : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& outputPath,
                           const std::map<std::string, std::string>& env)
    : outputPath_(outputPath) {
    pid_ = spawnWithOutput(program, args, outputPath, "", env);
}

ChildProcess::~ChildProcess() {
    stop();
}

void ChildProcess::signal(int sig) {
    if (pid_ > 0 && status_ == -1) {
        kill(pid_, sig);
    }
}

int ChildProcess::wait(int timeoutMs) {
    if (pid_ <= 0 || status_ != -1) {
        return status_;
    }
    return waitPid(pid_, timeoutMs, status_);
}

int ChildProcess::stop(int timeoutMs) {
    if (pid_ <= 0 || status_ != -1) {
        return status_;
    }
    signal(SIGTERM);
    if (wait(timeoutMs) == -1) {
        signal(SIGKILL);
        wait(5000);
    }
    return status_;
}

std::string ChildProcess::output() const {
    return readFile(outputPath_);
}

size_t ChildProcess::waitForText(const std::string& text, int timeoutMs, size_t offset) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::string out = output();
        const size_t at = offset <= out.size() ? out.find(text, offset) : std::string::npos;
        if (at != std::string::npos) {
            return at + text.size();
        }
        if (std::chrono::steady_clock::now() >= until) {
            return std::string::npos;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env, int timeoutMs) {
    char dir[] = "/tmp/sonavel-run-XXXXXX";
    RunResult result;
    if (!mkdtemp(dir)) {
        return result;
    }
    const std::string out = std::string(dir) + "/out";
    const std::string err = std::string(dir) + "/err";
    const pid_t pid = spawnWithOutput(program, args, out, err, env);
    if (pid > 0 && waitPid(pid, timeoutMs, result.status) == -1) {
        kill(pid, SIGKILL);
        waitPid(pid, 5000, result.status);
        result.status = -1;
    }
    result.out = readFile(out);
    result.err = readFile(err);
    unlink(out.c_str());
    unlink(err.c_str());
    rmdir(dir);
    return result;
}
