#pragma once
// The real server, started from the build's bin folder with a private
// settings folder, runtime folder, document folder and free ports, and the
// clients that talk to it. Stopping it also stops the web server it started,
// so that nothing is left running after a test.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/clients/ChildProcess.h"
#include "tests/support/TempDir.h"

class ServerProcess {
public:
    ServerProcess();
    ~ServerProcess();

    static std::string binDir();
    // False (with a reason) when the programs the tests need are not built.
    static bool programsBuilt(std::string& missing);

    // Starts the server and waits until its port takes connections.
    bool start();
    // SIGTERM and a wait; then the web server it started is asked to stop.
    void stop();
    // SIGKILL, as a crash would end it.
    void kill();

    uint16_t port() const { return port_; }
    pid_t pid() const { return server_ ? server_->pid() : -1; }
    const TempDir& dir() const { return dir_; }
    std::string filesDir() const { return dir_.file("doc/Files"); }
    std::string log() const { return server_ ? server_->output() : ""; }

    // Runs sonavelctl against this server as admin with the default password.
    RunResult ctl(const std::vector<std::string>& args, int timeoutMs = 20000) const;
    // Starts sonavel-endpoint for this server, output in dir()/<id>.log.
    std::unique_ptr<ChildProcess> endpoint(const std::string& id,
                                           const std::vector<std::string>& extra) const;

private:
    // Free ports for messages and files, written into the settings file.
    void choosePorts();
    void stopWebServer();

    TempDir dir_;
    uint16_t port_ = 0;
    uint16_t httpPort_ = 0;
    std::unique_ptr<ChildProcess> server_;
    int starts_ = 0;
    // True when no web server of this bin folder ran before the first start,
    // so the one running now was started by this server.
    bool ownsWebServer_ = false;
};

// A port on loopback that nothing listens on right now.
uint16_t freePort();
// Waits up to timeoutMs until something accepts connections on the port.
bool waitForPort(uint16_t port, int timeoutMs);
