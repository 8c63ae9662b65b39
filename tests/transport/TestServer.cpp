#include "tests/transport/TestServer.h"

#include <chrono>
#include <future>
#include <stdexcept>

TestServer::TestServer(const SendLimits& limits) : TcpServer(0) {
    setSendLimits(limits);
    loop = std::thread([this] { runResult = run(); });
}

TestServer::~TestServer() {
    finish();
}

bool TestServer::finish() {
    if (!finished) {
        stop();
        loop.join();
        finished = true;
    }
    return runResult;
}

bool TestServer::onCmd(const std::shared_ptr<TcpClient>& conn, const std::string& connId,
                       const std::string& cmd, const Json::Value& msg, const uint8_t* binary,
                       int32_t length) {
    if (TcpServer::onCmd(conn, connId, cmd, msg, binary, length)) {
        return true;
    }
    {
        std::lock_guard lock(mutex);
        log.push_back(
            {connId, cmd, msg, std::string(reinterpret_cast<const char*>(binary), length)});
    }
    if (cmd == "echo") {
        sendToConn(conn, "echo", msg);
    } else if (cmd == "set-groups") {
        conn->groups.clear();
        for (const Json::Value& g : msg["groups"]) {
            conn->groups.push_back(g.asString());
        }
        sendToConn(conn, "echo", msg);
    } else if (cmd == "throw") {
        throw std::runtime_error("thrown on purpose");
    } else if (cmd == "bad-field") {
        return msg["n"].asInt() > 0;
    } else if (cmd == "stop") {
        stop();
    }
    return false;
}

void TestServer::onDisconnect(const std::shared_ptr<TcpClient>& conn) {
    TcpServer::onDisconnect(conn);
    std::lock_guard lock(mutex);
    disconnected.push_back(conn->id);
}

bool TestServer::onAccept(const std::shared_ptr<TcpClient>& conn,
                          const boost::system::error_code& error) {
    if (error) {
        std::lock_guard lock(mutex);
        ++acceptFailures;
    }
    return TcpServer::onAccept(conn, error);
}

std::vector<TestServer::Received> TestServer::received() {
    std::lock_guard lock(mutex);
    return log;
}

std::vector<std::string> TestServer::disconnectedIds() {
    std::lock_guard lock(mutex);
    return disconnected;
}

int TestServer::failedAccepts() {
    std::lock_guard lock(mutex);
    return acceptFailures;
}

void TestServer::onLoop(const std::function<void()>& fn) {
    std::promise<void> done;
    boost::asio::post(ioContext(), [&] {
        fn();
        done.set_value();
    });
    if (done.get_future().wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        throw std::runtime_error("event loop did not run the task");
    }
}

std::unique_ptr<FrameClient> TestServer::connectAs(const std::string& id) {
    auto client = std::make_unique<FrameClient>(localPort());
    client->sendRegister(id);
    // Frames of one connection are handled in order: the echo means "register" is done.
    messagesBeforeMarker(*client);
    return client;
}

std::unique_ptr<FrameClient> TestServer::connectUnregistered() {
    auto client = std::make_unique<FrameClient>(localPort());
    messagesBeforeMarker(*client);
    return client;
}

bool waitFor(const std::function<bool()>& pred, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::vector<FrameClient::Frame> messagesBeforeMarker(FrameClient& client) {
    Json::Value marker;
    marker["marker"] = true;
    client.sendFrame("echo", marker);
    std::vector<FrameClient::Frame> before;
    while (auto frame = client.readMessage()) {
        if (frame->cmd == "echo" && frame->msg == marker) {
            return before;
        }
        before.push_back(*frame);
    }
    before.push_back({"", "<marker never came>", Json::Value(), "", ""});
    return before;
}

std::vector<std::string> cmdsOf(const std::vector<FrameClient::Frame>& frames) {
    std::vector<std::string> cmds;
    for (const auto& f : frames) {
        cmds.push_back(f.cmd);
    }
    return cmds;
}
