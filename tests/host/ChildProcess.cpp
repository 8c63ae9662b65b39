#include "tests/host/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "common/Platform.h"

extern char** environ;

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env,
                           const std::string& outputFile)
    : outputFile_(outputFile) {
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) {
        std::string var = *e;
        if (!env.count(var.substr(0, var.find('=')))) {
            vars.push_back(var);
        }
    }
    for (const auto& [name, value] : env) {
        vars.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& v : vars) {
        envp.push_back(v.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    if (running()) {
        kill(pid_, SIGKILL);
        waitExit(5000);
    }
}

bool ChildProcess::running() {
    if (pid_ <= 0 || exited_) {
        return false;
    }
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        exited_ = true;
    }
    return !exited_;
}

void ChildProcess::signal(int sig) {
    if (running()) {
        kill(pid_, sig);
    }
}

int ChildProcess::waitExit(int timeoutMs) {
    int64_t deadline = gettime2() + timeoutMs;
    while (running() && gettime2() < deadline) {
        usleep(10000);
    }
    if (!exited_) {
        return -1;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

std::string ChildProcess::output() const {
    std::ifstream in(outputFile_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
