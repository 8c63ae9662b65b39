#include "tests/config/FakePrograms.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "common/Platform.h"

namespace {

void writeScript(const std::string& path, const std::string& body) {
    std::ofstream(path, std::ios::trunc) << "#!/bin/sh\n" << body;
    chmod(path.c_str(), 0755);
}

}  // namespace

// Process names are at most 15 characters.
FakePrograms::FakePrograms()
    : serverName("sv" + std::to_string(getpid())), nginxName("ngx" + std::to_string(getpid())) {}

void FakePrograms::install(const std::string& programDir) const {
    writeScript(
        programDir + "/" + serverName,
        "pwd > \"$0.cwd.tmp\" && mv \"$0.cwd.tmp\" \"$0.cwd\"\nwhile :; do sleep 0.1; done\n");
    mkdir((programDir + "/nginx").c_str(), 0755);
    writeScript(programDir + "/nginx/" + nginxName,
                "if [ \"$5\" = -s ]; then\n"
                "  echo \"$@\" > stop-request.tmp && mv stop-request.tmp stop-request\n"
                "  exit 0\n"
                "fi\n"
                "while :; do sleep 0.1; done\n");
}

pid_t FakePrograms::startNginx(const std::string& programDir) const {
    std::string prefix = programDir + "/nginx";
    return spawnDetached(prefix + "/" + nginxName, {"-p", prefix + "/", "-c", "conf/nginx.conf"},
                         prefix);
}

bool FakePrograms::waitForFile(const std::string& path) {
    for (int i = 0; i < 50; ++i) {
        if (access(path.c_str(), F_OK) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

std::string FakePrograms::firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}
