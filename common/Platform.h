#pragma once
// The few operating-system facilities both programs need, behind one header.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// Milliseconds of a monotonic clock; only differences mean anything.
int64_t gettime2();

// Folder of the running executable, without a trailing separator.
std::string getAppDir();

// Lowers the calling thread's scheduling priority, for background work that
// must not take the CPU from the network thread. Best effort.
void lowerThreadPriority();

// 0 when an ordinary file exists at path, else -1.
int getFileType(const std::string& path);

// $XDG_CONFIG_HOME, else ~/.config.
std::string getConfigHome();
// The user's Documents folder (XDG user dirs), else ~/Documents.
std::string getDocumentsDir();

struct ProcessInfo {
    pid_t pid;
    uid_t uid;
    std::string name;  // as in /proc/<pid>/comm
};
std::vector<ProcessInfo> listProcesses();

// Starts program with args in workDir, standard streams on /dev/null, and
// does not wait for it. Returns the child's pid, or -1.
pid_t spawnDetached(const std::string& program, const std::vector<std::string>& args,
                    const std::string& workDir);
