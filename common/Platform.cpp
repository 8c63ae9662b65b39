#include "common/Platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

extern char** environ;

namespace {

std::string homeDir() {
    if (const char* home = std::getenv("HOME"); home && *home) {
        return home;
    }
    if (const passwd* pw = getpwuid(getuid())) {
        return pw->pw_dir;
    }
    return "/tmp";
}

// Value of XDG_DOCUMENTS_DIR in user-dirs.dirs, with $HOME expanded.
std::string documentsFromUserDirs() {
    std::ifstream in(getConfigHome() + "/user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_DOCUMENTS_DIR=";
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) != 0) {
            continue;
        }
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (value.compare(0, 5, "$HOME") == 0) {
            value = homeDir() + value.substr(5);
        }
        return value;
    }
    return "";
}

}  // namespace

int64_t gettime2() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string getAppDir() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return ".";
    }
    std::string exe(path, static_cast<size_t>(n));
    size_t slash = exe.rfind('/');
    return slash == 0 ? "/" : exe.substr(0, slash);
}

int getFileType(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? 0 : -1;
}

std::string getConfigHome() {
    if (const char* dir = std::getenv("XDG_CONFIG_HOME"); dir && *dir) {
        return dir;
    }
    return homeDir() + "/.config";
}

std::string getDocumentsDir() {
    if (const char* dir = std::getenv("XDG_DOCUMENTS_DIR"); dir && *dir) {
        return dir;
    }
    std::string fromFile = documentsFromUserDirs();
    return fromFile.empty() ? homeDir() + "/Documents" : fromFile;
}

std::vector<ProcessInfo> listProcesses() {
    std::vector<ProcessInfo> list;
    DIR* proc = opendir("/proc");
    if (!proc) {
        return list;
    }
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0) {
            continue;
        }
        std::string dir = std::string("/proc/") + entry->d_name;
        std::ifstream comm(dir + "/comm");
        std::string name;
        struct stat st {};
        if (!std::getline(comm, name) || stat(dir.c_str(), &st) != 0) {
            continue;  // gone meanwhile
        }
        list.push_back({static_cast<pid_t>(pid), st.st_uid, name});
    }
    closedir(proc);
    return list;
}

pid_t spawnDetached(const std::string& program, const std::vector<std::string>& args,
                    const std::string& workDir) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    }
    if (!workDir.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

void lowerThreadPriority() {
    // On Linux the nice value belongs to the thread, not the whole process.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
}
