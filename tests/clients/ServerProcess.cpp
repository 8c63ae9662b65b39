#include "tests/clients/ServerProcess.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace {

// The one password of the fresh database's admin account.
constexpr const char* kDefaultPassword = "907580";

bool canConnect(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

// Web server processes whose command line names the prefix.
std::vector<pid_t> webServersOf(const std::string& prefix) {
    std::vector<pid_t> pids;
    DIR* proc = opendir("/proc");
    if (!proc) {
        return pids;
    }
    while (dirent* e = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atol(e->d_name));
        if (pid <= 0) {
            continue;
        }
        const std::string base = std::string("/proc/") + e->d_name;
        std::string comm = readFile(base + "/comm");
        std::string cmdline = readFile(base + "/cmdline");
        if (comm.rfind("tervik-nginx", 0) == 0 && cmdline.find(prefix) != std::string::npos) {
            pids.push_back(pid);
        }
    }
    closedir(proc);
    return pids;
}

}  // namespace

uint16_t freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

bool waitForPort(uint16_t port, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!canConnect(port)) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string ServerProcess::binDir() {
    return SONAVEL_BIN_DIR;
}

bool ServerProcess::programsBuilt(std::string& missing) {
    for (const char* name : {"sonavel", "sonavelctl", "sonavel-endpoint"}) {
        if (access((binDir() + "/" + name).c_str(), X_OK) != 0) {
            missing = binDir() + "/" + name;
            return false;
        }
    }
    return true;
}

ServerProcess::ServerProcess() {
    mkdir(dir_.file("config").c_str(), 0700);
    mkdir(dir_.file("config/TervikSoft").c_str(), 0700);
    mkdir(dir_.file("run").c_str(), 0700);
    mkdir(dir_.file("doc").c_str(), 0700);
    choosePorts();
}

void ServerProcess::choosePorts() {
    port_ = freePort();
    httpPort_ = freePort();
    std::ofstream conf(dir_.file("config/TervikSoft/Sonavel.conf"));
    conf << "DocDir=" << dir_.file("doc") << "\n"
         << "Port=" << port_ << "\n"
         << "HttpPort=" << httpPort_ << "\n";
}

ServerProcess::~ServerProcess() {
    stop();
}

bool ServerProcess::start() {
    // A web server that runs already belongs to someone else, and is left alone.
    if (!ownsWebServer_) {
        ownsWebServer_ = webServersOf(binDir() + "/nginx/").empty();
    }
    // A free port can be taken by a test running beside this one before the
    // server binds it; the server then ends at once, and is started again
    // on other ports. Its own log line tells that it is the one listening.
    for (int attempt = 0; attempt < 5; ++attempt) {
        server_.reset();
        const std::string log = dir_.file("server-" + std::to_string(++starts_) + ".log");
        server_ = std::make_unique<ChildProcess>(
            binDir() + "/sonavel", std::vector<std::string>{}, log,
            std::map<std::string, std::string>{{"XDG_CONFIG_HOME", dir_.file("config")},
                                               {"XDG_RUNTIME_DIR", dir_.file("run")}});
        const std::string listening = "listening on port " + std::to_string(port_) + "\n";
        for (int i = 0; i < 300 && server_->wait(0) == -1; ++i) {
            if (server_->output().find(listening) != std::string::npos) {
                return waitForPort(port_, 5000);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (server_->wait(0) == -1) {
            return false;
        }
        choosePorts();
    }
    return false;
}

void ServerProcess::stop() {
    if (server_) {
        server_->stop(10000);
    }
    stopWebServer();
}

void ServerProcess::kill() {
    if (server_) {
        server_->signal(SIGKILL);
        server_->wait(5000);
    }
}

void ServerProcess::stopWebServer() {
    const std::string prefix = binDir() + "/nginx/";
    if (!ownsWebServer_ || webServersOf(prefix).empty()) {
        return;
    }
    runProgram(prefix + "tervik-nginx", {"-p", prefix, "-c", "conf/nginx.conf", "-s", "stop"}, {},
               10000);
    for (int i = 0; i < 50 && !webServersOf(prefix).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (pid_t pid : webServersOf(prefix)) {
        ::kill(pid, SIGTERM);
    }
}

RunResult ServerProcess::ctl(const std::vector<std::string>& args, int timeoutMs) const {
    std::vector<std::string> all{"--port", std::to_string(port_)};
    all.insert(all.end(), args.begin(), args.end());
    return runProgram(binDir() + "/sonavelctl", all, {{"SONAVEL_PASSWORD", kDefaultPassword}},
                      timeoutMs);
}

std::unique_ptr<ChildProcess> ServerProcess::endpoint(const std::string& id,
                                                      const std::vector<std::string>& extra) const {
    std::vector<std::string> args{"--port", std::to_string(port_), "--id", id};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<ChildProcess>(binDir() + "/sonavel-endpoint", args,
                                          dir_.file(id + ".log"));
}
