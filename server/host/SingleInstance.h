#pragma once
// Keeps a second copy of the server from running: an exclusive flock on a
// per-user lock file, held until the object is destroyed. Main thread only.

#include <string>

class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // $XDG_RUNTIME_DIR/{71FEF2B5-...}.lock, else /tmp/{71FEF2B5-...}-<uid>.lock.
    static std::string lockPath();

    // False only when another process holds the lock. A lock file that cannot
    // be opened at all is logged and treated as no other copy running.
    bool acquire();

private:
    int fd_ = -1;
};
