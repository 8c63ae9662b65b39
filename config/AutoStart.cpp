#include "config/AutoStart.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "common/Platform.h"

namespace {

// An Exec argument in double quotes: the characters the desktop entry
// format reserves inside quotes get a backslash, "%" (the field-code sign)
// is doubled, and then the file's own string escaping doubles every
// backslash.
std::string quoteExecArgument(const std::string& arg) {
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        if (c == '%') {
            quoted += '%';
        }
        quoted += c;
    }
    quoted += '"';
    std::string out;
    for (char c : quoted) {
        out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    return out;
}

}  // namespace

std::string autostartEntryPath() {
    return getConfigHome() + "/autostart/sonavel.desktop";
}

std::string autostartEntryText(const std::string& toolPath) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=sonavel\n"
           "Exec=" +
           quoteExecArgument(toolPath) +
           " --start\n"
           "Terminal=false\n"
           "NoDisplay=true\n";
}

bool autostartEntryExists() {
    return access(autostartEntryPath().c_str(), F_OK) == 0;
}

bool writeAutostartEntry(const std::string& toolPath) {
    std::string dir = getConfigHome() + "/autostart";
    if (mkdir(getConfigHome().c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    std::string path = autostartEntryPath();
    std::string tmp = path + ".tmp." + std::to_string(getpid());
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << autostartEntryText(toolPath);
        if (!out.flush()) {
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

bool removeAutostartEntry() {
    return unlink(autostartEntryPath().c_str()) == 0 || errno == ENOENT;
}

std::string ownExecutablePath() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}
