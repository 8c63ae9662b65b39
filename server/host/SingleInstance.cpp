#include "server/host/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/Logger.h"

namespace {

constexpr const char* kInstanceName = "{71FEF2B5-C5B3-4106-A73A-7FDF6AE1EF44}";

}  // namespace

SingleInstance::~SingleInstance() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::string SingleInstance::lockPath() {
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir) {
        return std::string(dir) + "/" + kInstanceName + ".lock";
    }
    return std::string("/tmp/") + kInstanceName + "-" + std::to_string(getuid()) + ".lock";
}

bool SingleInstance::acquire() {
    if (fd_ >= 0) {
        return true;
    }
    const std::string path = lockPath();
    // Close-on-exec: the web server started later must not inherit the lock,
    // or it would keep the server from ever starting again while it runs.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        gLogger().logout("single-instance lock %s: %s", path.c_str(), std::strerror(errno));
        return true;
    }
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int err = errno;
        close(fd);
        if (err == EWOULDBLOCK) {
            return false;
        }
        gLogger().logout("single-instance lock %s: %s", path.c_str(), std::strerror(err));
        return true;
    }
    fd_ = fd;
    return true;
}
