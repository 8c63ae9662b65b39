#include "config/ServerControl.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <thread>

namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

bool isServerRunning(const std::vector<ProcessInfo>& processes, const std::string& serverName) {
    return std::any_of(processes.begin(), processes.end(),
                       [&](const ProcessInfo& p) { return lowerCase(p.name) == serverName; });
}

std::vector<pid_t> processesToStop(const std::vector<ProcessInfo>& processes,
                                   const std::string& name, uid_t uid) {
    std::vector<pid_t> pids;
    for (const auto& p : processes) {
        if (p.uid == uid && lowerCase(p.name) == name) {
            pids.push_back(p.pid);
        }
    }
    return pids;
}

ServerControl::ServerControl(std::string programDir, std::string serverName, std::string nginxName)
    : programDir_(std::move(programDir)),
      serverName_(std::move(serverName)),
      nginxName_(std::move(nginxName)) {}

bool ServerControl::start() {
    reapChildren();
    pid_t pid = spawnDetached(serverPath(), {}, programDir_);
    if (pid > 0) {
        children_.push_back(pid);
    }
    return pid > 0;
}

bool ServerControl::isRunning() {
    reapChildren();
    return isServerRunning(listProcesses(), serverName_);
}

void ServerControl::stopServerAndNginx() {
    std::string prefix = programDir_ + "/nginx";
    pid_t pid = spawnDetached(prefix + "/" + nginxName_,
                              {"-p", prefix + "/", "-c", "conf/nginx.conf", "-s", "stop"}, prefix);
    if (pid > 0) {
        children_.push_back(pid);
    }
    sleepMs(500);
    killProcessByName(serverName_);
    killProcessByName(nginxName_);
}

int ServerControl::killProcessByName(const std::string& name) {
    int count = 0;
    for (pid_t pid : processesToStop(listProcesses(), name, getuid())) {
        // SIGTERM lets the server close its database and sockets cleanly.
        if (kill(pid, SIGTERM) == 0) {
            ++count;
        }
    }
    return count;
}

bool ServerControl::waitUntilStopped(int timeoutMs) {
    for (int waited = 0;; waited += 100) {
        if (!isRunning()) {
            return true;
        }
        if (waited >= timeoutMs) {
            return false;
        }
        sleepMs(100);
    }
}

void ServerControl::reapChildren() {
    std::erase_if(children_, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
}
