#pragma once
// Shell-script stand-ins for the server and the web server, under names
// unique to the test process so that no real server is touched.

#include <sys/types.h>

#include <string>

struct FakePrograms {
    FakePrograms();

    // Writes <programDir>/<serverName> (records its working folder in
    // <serverName>.cwd, then idles) and <programDir>/nginx/<nginxName>
    // (records "-s stop" requests in nginx/stop-request, else idles).
    void install(const std::string& programDir) const;
    // Starts the web server stand-in as the server would.
    pid_t startNginx(const std::string& programDir) const;

    static bool waitForFile(const std::string& path);
    static std::string firstLine(const std::string& path);

    std::string serverName;
    std::string nginxName;
};
