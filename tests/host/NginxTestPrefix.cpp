#include "tests/host/NginxTestPrefix.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "common/Platform.h"
#include "server/host/NginxCompanion.h"

namespace {

struct NginxProcess {
    pid_t pid;
    pid_t ppid;
    std::string cmdline;  // NULs turned into spaces
};

std::vector<NginxProcess> liveNginx() {
    std::vector<NginxProcess> found;
    for (const ProcessInfo& p : listProcesses()) {
        if (p.name != "tervik-nginx") {
            continue;
        }
        std::string dir = "/proc/" + std::to_string(p.pid);
        std::ifstream statFile(dir + "/stat");
        std::string stat;
        std::getline(statFile, stat);
        size_t paren = stat.rfind(')');
        if (paren == std::string::npos) {
            continue;
        }
        std::istringstream fields(stat.substr(paren + 2));
        char state = 0;
        pid_t ppid = 0;
        fields >> state >> ppid;
        if (state == 'Z') {
            waitpid(p.pid, nullptr, WNOHANG);  // ours, if we are its subreaper
            continue;
        }
        std::ifstream cmdFile(dir + "/cmdline");
        std::string cmdline((std::istreambuf_iterator<char>(cmdFile)),
                            std::istreambuf_iterator<char>());
        for (char& c : cmdline) {
            c = c == '\0' ? ' ' : c;
        }
        found.push_back({p.pid, ppid, cmdline});
    }
    return found;
}

// Masters show their prefix in their command line; workers are their children.
std::set<pid_t> withWorkers(const std::vector<NginxProcess>& all, const std::set<pid_t>& masters) {
    std::set<pid_t> pids = masters;
    for (const NginxProcess& p : all) {
        if (masters.count(p.ppid)) {
            pids.insert(p.pid);
        }
    }
    return pids;
}

void terminate(const std::set<pid_t>& pids) {
    for (pid_t pid : pids) {
        kill(pid, SIGTERM);
    }
    usleep(20000);
    for (pid_t pid : pids) {
        waitpid(pid, nullptr, WNOHANG);
    }
}

}  // namespace

NginxTestPrefix::NginxTestPrefix(const std::string& programDir) : path_(programDir + "/nginx") {
    // Daemonised web servers become our children, so that we can reap them
    // rather than leave zombies named tervik-nginx behind.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::filesystem::create_directories(path_ + "/conf");
    std::filesystem::create_directories(path_ + "/logs");
    std::filesystem::create_symlink(SONAVEL_NGINX, path_ + "/tervik-nginx");
}

NginxTestPrefix::~NginxTestPrefix() {
    stop();
}

void NginxTestPrefix::stop() {
    const std::string marker = path_ + "/";
    for (int i = 0; i < 500; ++i) {
        std::vector<NginxProcess> all = liveNginx();
        std::set<pid_t> masters;
        for (const NginxProcess& p : all) {
            if (p.cmdline.find(marker) != std::string::npos) {
                masters.insert(p.pid);
            }
        }
        if (masters.empty()) {
            return;
        }
        terminate(withWorkers(all, masters));
    }
}

bool NginxTestPrefix::waitUntilNoneRunning(int timeoutMs) {
    const std::string testRoot = "/tmp/sonavel-test-";
    for (int waited = 0; waited <= timeoutMs; waited += 50) {
        if (!isNginxRunning()) {
            return true;
        }
        std::vector<NginxProcess> all = liveNginx();
        std::set<pid_t> orphans;
        for (const NginxProcess& p : all) {
            size_t at = p.cmdline.find(testRoot);
            if (at == std::string::npos) {
                continue;
            }
            std::string folder =
                p.cmdline.substr(at, p.cmdline.find('/', at + testRoot.size()) - at);
            if (!std::filesystem::exists(folder)) {
                orphans.insert(p.pid);
            }
        }
        if (!orphans.empty()) {
            terminate(withWorkers(all, orphans));
        }
        usleep(50000);
    }
    return !isNginxRunning();
}
