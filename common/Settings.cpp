#include "common/Settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/Platform.h"
#include "common/TextUtil.h"

namespace {

bool isCommentOrBlank(const std::string& line) {
    return line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '[';
}

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

bool makeDirs(const std::string& dir) {
    std::string partial;
    std::vector<std::string> pieces;
    for (const auto& piece : strSplit(dir, '/', pieces)) {
        partial += "/" + piece;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string settingsFilePath(const std::string& keyPath) {
    std::string rel = keyPath;
    strReplace(rel, "\\", "/");
    return getConfigHome() + "/" + rel + ".conf";
}

std::string getCurrentUserRegString(const std::string& keyPath, const std::string& name) {
    for (const auto& line : readLines(settingsFilePath(keyPath))) {
        if (isCommentOrBlank(line)) {
            continue;
        }
        size_t eq = line.find('=');
        if (eq != std::string::npos && line.compare(0, eq, name) == 0 && eq == name.size()) {
            return line.substr(eq + 1);
        }
    }
    return "";
}

int getCurrentUserRegInt(const std::string& keyPath, const std::string& name) {
    std::string text = getCurrentUserRegString(keyPath, name);
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    return end == text.c_str() ? 0 : static_cast<int>(value);
}

bool setCurrentUserRegString(const std::string& keyPath, const std::string& name,
                             const std::string& value) {
    if (name.empty() || name.find('=') != std::string::npos ||
        value.find('\n') != std::string::npos) {
        return false;
    }
    std::string path = settingsFilePath(keyPath);
    if (!makeDirs(path.substr(0, path.rfind('/')))) {
        return false;
    }
    std::ostringstream text;
    bool written = false;
    for (const auto& line : readLines(path)) {
        size_t eq = line.find('=');
        if (!isCommentOrBlank(line) && eq == name.size() && line.compare(0, eq, name) == 0) {
            if (!written) {
                text << name << '=' << value << '\n';
                written = true;
            }
            continue;
        }
        text << line << '\n';
    }
    if (!written) {
        text << name << '=' << value << '\n';
    }
    // Written beside the file and renamed over it, so a reader never sees half a file.
    std::string tmp = path + ".tmp." + std::to_string(getpid());
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        return false;
    }
    std::string data = text.str();
    bool ok = write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    return true;
}
