#pragma once
// A message server on a free loopback port, run on a thread of its own.
// It records what reaches the application and answers a few test commands:
//   "echo"        sends msg back on the same connection
//   "set-groups"  sets the connection's groups to msg["groups"]
//   "throw"       throws from the handler
//   "bad-field"   reads a field with the wrong type, which throws in the JSON library
//   "stop"        calls stop() on the loop thread

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/transport/TcpServer.h"
#include "tests/support/FrameClient.h"

class TestServer : public TcpServer {
public:
    struct Received {
        std::string connId;
        std::string cmd;
        Json::Value msg;
        std::string binary;
    };

    explicit TestServer(const SendLimits& limits = SendLimits());
    ~TestServer() override;

    // Stops the loop, waits for it and gives run()'s result.
    bool finish();
    bool running() const { return !finished; }

    bool onCmd(const std::shared_ptr<TcpClient>& conn, const std::string& connId,
               const std::string& cmd, const Json::Value& msg, const uint8_t* binary,
               int32_t length) override;
    void onDisconnect(const std::shared_ptr<TcpClient>& conn) override;
    bool onAccept(const std::shared_ptr<TcpClient>& conn,
                  const boost::system::error_code& error) override;

    std::vector<Received> received();
    std::vector<std::string> disconnectedIds();
    int failedAccepts();

    // Runs fn on the loop thread and waits for it.
    void onLoop(const std::function<void()>& fn);
    // A client that has registered under id, once the server knows it.
    std::unique_ptr<FrameClient> connectAs(const std::string& id);
    // A client that has not registered, once its first message went through.
    std::unique_ptr<FrameClient> connectUnregistered();

private:
    std::thread loop;
    bool finished = false;
    bool runResult = false;
    std::mutex mutex;
    std::vector<Received> log;
    std::vector<std::string> disconnected;
    int acceptFailures = 0;
};

// Polls pred until it holds or timeoutMs pass.
bool waitFor(const std::function<bool()>& pred, int timeoutMs = 3000);

// The messages a client got before the echo of a marker it sends now:
// everything queued for it before this call, heartbeats left out.
std::vector<FrameClient::Frame> messagesBeforeMarker(FrameClient& client);

// The commands of a list of frames, in order.
std::vector<std::string> cmdsOf(const std::vector<FrameClient::Frame>& frames);
