#include "server/host/NginxCompanion.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <thread>

#include "common/Logger.h"
#include "common/Platform.h"
#include "common/TextUtil.h"

// The template, carried inside the executable (generated from nginx.conf.in).
extern const char kNginxTemplate[];

namespace {

constexpr const char* kNginxName = "tervik-nginx";

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// An exited process nobody has reaped still shows its name; it serves nothing.
bool isZombie(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
}

// nginx quotes: a backslash or double quote inside the quoted root must be
// escaped, or a folder name containing one would break the configuration.
std::string quoteForNginx(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

}  // namespace

std::string nginxPrefix() {
    return getAppDir() + "/nginx";
}

bool isNginxRunning() {
    const std::string wanted = upper(kNginxName);
    for (const ProcessInfo& p : listProcesses()) {
        if (upper(p.name).find(wanted) != std::string::npos && !isZombie(p.pid)) {
            return true;
        }
    }
    return false;
}

std::string nginxConfText(const std::string& docRoot, uint16_t port, bool asRoot) {
    std::string text = kNginxTemplate;
    // The port goes in first so that a folder name containing "$SRVPORT" is
    // left as it is.
    strReplace(text, "$SRVPORT", int2stringA(port));
    strReplace(text, "$DOCROOT", quoteForNginx(docRoot));
    if (asRoot) {
        text = "user root;\n" + text;
    }
    return text;
}

bool dump_nginx_conf(const std::string& docRoot, uint16_t port, const std::string& prefix) {
    std::ofstream out(prefix + "/conf/nginx.conf", std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    out << nginxConfText(docRoot, port, geteuid() == 0);
    out.close();
    return !out.fail();
}

bool startNginx(const std::string& docRoot, uint16_t port, const std::string& prefix) {
    // The folders the build made; recreated in case the program folder was
    // copied without them (nginx needs logs/ before it reads its settings).
    mkdir((prefix + "/conf").c_str(), 0755);
    mkdir((prefix + "/logs").c_str(), 0755);
    const std::string conf = prefix + "/conf/nginx.conf";
    std::remove(conf.c_str());
    if (!dump_nginx_conf(docRoot, port, prefix)) {
        gLogger().logout("dump_nginx_conf failed");
        return false;
    }
    pid_t pid = spawnDetached(prefix + "/" + kNginxName,
                              {"-p", prefix + "/", "-c", "conf/nginx.conf"}, prefix);
    if (pid < 0) {
        gLogger().logout("%s/%s could not be started", prefix.c_str(), kNginxName);
        return true;
    }
    // nginx daemonises and its first process exits at once; reap it without
    // making the server wait, so it does not linger as a zombie. The helper
    // starts with every signal blocked: stop requests are the main thread's.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return true;
}
