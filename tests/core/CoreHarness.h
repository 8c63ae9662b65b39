#pragma once
// An in-process SonavelServer on an ephemeral loopback port, run on its own
// thread, with a private settings folder and document folder. Test thread.

#include <memory>
#include <string>
#include <thread>

#include "server/core/SonavelServer.h"
#include "tests/core/Peer.h"
#include "tests/support/TempDir.h"

// The stored password of the default account: MD5 of 907580, lower-case hex.
inline const std::string kAdminDigest = "0f3d58864d5e607b8809696a25dd9bf1";

class CoreHarness {
public:
    // requireLogin writes RequireLogin=1 before the server starts.
    explicit CoreHarness(bool requireLogin = false);
    ~CoreHarness();

    void start();
    void stop();
    void restart() {
        stop();
        start();
    }

    SonavelServer& server() { return *server_; }
    uint16_t port() const { return port_; }
    const std::string& docDir() const { return doc_.path(); }
    std::string filesDir() const { return doc_.path() + "/Files"; }

    // A connection registered under id (empty: never registered).
    std::unique_ptr<Peer> connect(const std::string& id);
    // A registered connection logged in as userName; fails the test otherwise.
    std::unique_ptr<Peer> manager(const std::string& id, const std::string& userName = "admin",
                                  const std::string& password = kAdminDigest);
    // A registered connection that sent endpoint-login, after its notice came.
    std::unique_ptr<Peer> endpoint(const std::string& id, const std::string& devName = "dev");

private:
    ScopedConfigHome config_;
    TempDir doc_;
    std::unique_ptr<SonavelServer> server_;
    std::thread thread_;
    uint16_t port_ = 0;
};

// Parses JSON text written in a test (any root).
Json::Value jsonOf(const std::string& text);

// Counts occurrences of needle in text, for log checks.
int countText(const std::string& text, const std::string& needle);
