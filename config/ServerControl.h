#pragma once
// Starts, finds and stops the server and its web server by process name,
// as the dialog's Run and Stop do. Dialog thread, or main in headless use.

#include <sys/types.h>

#include <string>
#include <vector>

#include "common/Platform.h"

// Whether a process whose lower-cased name equals serverName is listed,
// whoever runs it.
bool isServerRunning(const std::vector<ProcessInfo>& processes, const std::string& serverName);

// The processes of user uid whose lower-cased name equals name.
std::vector<pid_t> processesToStop(const std::vector<ProcessInfo>& processes,
                                   const std::string& name, uid_t uid);

class ServerControl {
public:
    // The names are those of the programs in programDir; tests pass their own
    // so that they never touch a real server running on the same machine.
    explicit ServerControl(std::string programDir, std::string serverName = "sonavel",
                           std::string nginxName = "tervik-nginx");

    const std::string& programDir() const { return programDir_; }
    std::string serverPath() const { return programDir_ + "/" + serverName_; }

    // Starts the server in the program folder without waiting for it.
    bool start();
    bool isRunning();
    // The web server's own stop request, a short wait, then SIGTERM to the
    // current user's server and web server processes.
    void stopServerAndNginx();
    // SIGTERM to the current user's processes named name; the number signalled.
    int killProcessByName(const std::string& name);
    // Polls until no server process is listed or timeoutMs has passed;
    // true when the server is gone.
    bool waitUntilStopped(int timeoutMs);

private:
    // Children we started would linger as zombies under their old name and
    // look like a running server; collect the ones that have ended.
    void reapChildren();

    std::string programDir_;
    std::string serverName_;
    std::string nginxName_;
    std::vector<pid_t> children_;
};
