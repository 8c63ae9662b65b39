#include "server/transport/TcpServer.h"

#include <algorithm>
#include <exception>
#include <mutex>

#include "common/Logger.h"
#include "common/Platform.h"

namespace asio = boost::asio;
using boost::system::error_code;
using tcp = asio::ip::tcp;

namespace {

constexpr std::chrono::milliseconds kTickPeriod{10};
constexpr std::chrono::milliseconds kFirstTick{20};
constexpr int64_t kHeartbeatMs = 1000;
// Pause before accepting again when the process is out of descriptors or
// memory: the pending connection stays queued, so retrying at once would spin.
constexpr std::chrono::milliseconds kAcceptRetry{100};

void check(const error_code& error, const char* step) {
    if (error) {
        throw boost::system::system_error(error, step);
    }
}

bool isResourceShortage(const error_code& error) {
    using boost::system::errc::errc_t;
    return error == errc_t::too_many_files_open || error == errc_t::too_many_files_open_in_system ||
           error == errc_t::no_buffer_space || error == errc_t::not_enough_memory;
}

}  // namespace

TcpServer::TcpServer(uint16_t listenPort) : acceptor(io), timer(io), acceptRetry(io) {
    error_code error;
    acceptor.open(tcp::v4(), error);
    check(error, "open");
    acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    check(error, "set_option");
    acceptor.bind(tcp::endpoint(asio::ip::address_v4::any(), listenPort), error);
    check(error, "bind");
    acceptor.listen(asio::socket_base::max_listen_connections, error);
    check(error, "listen");
    port = acceptor.local_endpoint().port();
    // The same bytes go to every peer every second: build them once.
    heartbeat = buildFrame("heartbeat", Json::Value(), kServerId, nullptr, 0);
}

TcpServer::~TcpServer() {
    closeListener();
    std::lock_guard lock(clientsMutex);
    clients.clear();
}

bool TcpServer::run() {
    gLogger().logout(">>>>>>run>>>>>>");
    try {
        startAccept();
        nextTick = std::chrono::steady_clock::now() + kFirstTick;
        timer.expires_at(nextTick);
        timer.async_wait([this](const error_code& error) { onTick(error); });
        io.run();
    } catch (const std::exception& e) {
        gLogger().logout("run err: %s", e.what());
        return false;
    }
    gLogger().logout("<<<<<<run<<<<<<<");
    return true;
}

void TcpServer::stop() {
    if (!io.get_executor().running_in_this_thread()) {
        asio::post(io, [this] { stop(); });
        return;
    }
    closeListener();
    {
        std::lock_guard lock(clientsMutex);
        clients.clear();
    }
    io.stop();
}

void TcpServer::closeListener() {
    error_code error;
    acceptRetry.cancel();
    acceptor.close(error);
    if (error) {
        gLogger().logout("close: %s", error.message().c_str());
    }
}

void TcpServer::startAccept() {
    auto conn = std::make_shared<TcpClient>(io, *this);
    acceptor.async_accept(conn->socket(), [this, conn](const error_code& error) {
        // Through the virtual table, so an override sees every accept.
        onAccept(conn, error);
    });
}

void TcpServer::retryAccept() {
    acceptRetry.expires_after(kAcceptRetry);
    acceptRetry.async_wait([this](const error_code& error) {
        if (!error) {
            startAccept();
        }
    });
}

bool TcpServer::onAccept(const std::shared_ptr<TcpClient>& conn, const error_code& error) {
    if (error == asio::error::operation_aborted || !acceptor.is_open()) {
        return false;
    }
    if (error) {
        gLogger().logout("accept err: %s", error.message().c_str());
        if (isResourceShortage(error)) {
            retryAccept();
        } else {
            startAccept();
        }
        return false;
    }
    bool listed = false;
    // A peer gone before it could be set up costs only its own connection.
    error_code setupError;
    const tcp::endpoint peer = conn->socket().remote_endpoint(setupError);
    if (!setupError) {
        conn->socket().set_option(tcp::no_delay(true), setupError);
    }
    if (setupError) {
        gLogger().logout("accept err: %s", setupError.message().c_str());
    } else {
        conn->addr = peer.address().to_v4().to_string();
        {
            std::lock_guard lock(clientsMutex);
            clients.add(conn);
        }
        conn->startRead();
        listed = true;
    }
    startAccept();
    return listed;
}

void TcpServer::onDisconnect(const std::shared_ptr<TcpClient>& conn) {
    std::lock_guard lock(clientsMutex);
    clients.remove(conn.get());
}

bool TcpServer::onCmd(const std::shared_ptr<TcpClient>& conn, const std::string& connId,
                      const std::string& cmd, const Json::Value& msg, const uint8_t* binary,
                      int32_t length) {
    if (cmd == "forward-data") {
        handleForward(connId, msg, binary, length);
        return true;
    }
    if (cmd == "register") {
        handleRegister(conn, msg);
        return true;
    }
    return false;
}

void TcpServer::handleForward(const std::string& connId, const Json::Value& msg,
                              const uint8_t* binary, int32_t length) {
    // A "msg" that is not an object throws here; the caller contains it.
    const std::string innerCmd = msg["cmd"].asString();
    const Json::Value& innerMsg = msg["msg"];
    if (!msg.isMember("dataFlow")) {
        sendToAll(innerCmd, innerMsg, binary, length, connId);
        return;
    }
    Target target;
    parseTarget(msg["dataFlow"].asString(), target);
    sendToTarget(target, innerCmd, innerMsg, binary, length, connId);
}

void TcpServer::handleRegister(const std::shared_ptr<TcpClient>& conn, const Json::Value& msg) {
    const std::string devId = msg["devId"].asString();
    std::shared_ptr<TcpClient> replaced;
    {
        std::lock_guard lock(clientsMutex);
        replaced = clients.assignId(conn, devId);
    }
    if (replaced) {
        gLogger().logout("register %s: replaces the connection from %s", devId.c_str(),
                         replaced->addr.c_str());
    }
}

void TcpServer::sendAll(const Conns& picked, const FramePtr& frame) {
    for (const auto& conn : picked) {
        conn->send(frame);
    }
}

// Recipients are picked under the lock and sent to after it is released,
// so no socket work ever happens while the registry is locked.
void TcpServer::deliverToAll(const FramePtr& frame, const std::string& except) {
    if (!frame) {
        return;
    }
    Conns picked;
    {
        std::lock_guard lock(clientsMutex);
        picked.reserve(clients.all().size());
        for (const auto& conn : clients.all()) {
            if (!conn->id.empty() && conn->id != except) {
                picked.push_back(conn);
            }
        }
    }
    sendAll(picked, frame);
}

void TcpServer::deliverToOne(const std::string& id, const FramePtr& frame,
                             const std::string& except) {
    // A connection holding except is passed over, so that id reaches no one.
    if (!frame || id.empty() || id == except) {
        return;
    }
    std::shared_ptr<TcpClient> conn;
    {
        std::lock_guard lock(clientsMutex);
        conn = clients.find(id);
    }
    if (conn) {
        conn->send(frame);
    }
}

void TcpServer::deliverToGroups(const std::vector<std::string>& groupIds, const FramePtr& frame,
                                const std::string& except) {
    if (!frame || groupIds.empty()) {
        return;
    }
    Conns picked;
    {
        std::lock_guard lock(clientsMutex);
        for (const auto& conn : clients.all()) {
            if (conn->id == except) {
                continue;
            }
            const bool member = std::any_of(
                conn->groups.begin(), conn->groups.end(), [&groupIds](const std::string& g) {
                    return std::find(groupIds.begin(), groupIds.end(), g) != groupIds.end();
                });
            if (member) {
                picked.push_back(conn);
            }
        }
    }
    sendAll(picked, frame);
}

void TcpServer::deliverToEach(const std::vector<std::string>& ids, const FramePtr& frame,
                              const std::string& except) {
    for (const std::string& id : ids) {
        deliverToOne(id, frame, except);
    }
}

void TcpServer::deliverByPolicy(const Target& target, const FramePtr& frame,
                                const std::string& except) {
    switch (target.policy) {
        case ToAll:
            deliverToAll(frame, except);
            break;
        case ToGroup:
            deliverToGroups(target.dst, frame, except);
            break;
        case ToTarget:
            deliverToEach(target.dst, frame, except);
            break;
        default:
            // An unknown policy reaches no one.
            break;
    }
}

void TcpServer::sendToConn(const std::shared_ptr<TcpClient>& conn, const std::string& cmd,
                           const Json::Value& msg) {
    if (conn) {
        conn->send(buildFrame(cmd, msg, kServerId, nullptr, 0));
    }
}

void TcpServer::sendToAll(const std::string& cmd, const Json::Value& msg, const uint8_t* binary,
                          int32_t length, const std::string& src) {
    deliverToAll(buildFrame(cmd, msg, src, binary, length), src);
}

void TcpServer::sendToOne(const std::string& id, const std::string& cmd, const Json::Value& msg,
                          const uint8_t* binary, int32_t length, const std::string& src) {
    deliverToOne(id, buildFrame(cmd, msg, src, binary, length), src);
}

void TcpServer::sendToEach(const std::vector<std::string>& ids, const std::string& cmd,
                           const Json::Value& msg, const uint8_t* binary, int32_t length,
                           const std::string& src) {
    deliverToEach(ids, buildFrame(cmd, msg, src, binary, length), src);
}

void TcpServer::sendToTarget(const Target& target, const std::string& cmd, const Json::Value& msg,
                             const uint8_t* binary, int32_t length, const std::string& src) {
    deliverByPolicy(target, buildFrame(cmd, msg, src, binary, length), src);
}

void TcpServer::postToTarget(const Target& target, const std::string& cmd, const Json::Value& msg,
                             const uint8_t* binary, int32_t length) {
    // Encoded here, on the poster's thread, so the tick only hands it out.
    FramePtr frame = buildFrame(cmd, msg, target.src, binary, length);
    if (!frame) {
        return;
    }
    std::lock_guard lock(jobsMutex);
    jobs.push_back(SendJob{target, std::move(frame)});
}

void TcpServer::onTick(const error_code& error) {
    if (error) {
        return;
    }
    std::deque<SendJob> ready;
    {
        std::lock_guard lock(jobsMutex);
        ready.swap(jobs);
    }
    // Posting order; the server id is skipped whatever the job's src.
    for (const SendJob& job : ready) {
        deliverByPolicy(job.target, job.frame, kServerId);
    }
    const int64_t now = gettime2();
    if (now - lastHeartbeat > kHeartbeatMs) {
        deliverToAll(heartbeat, kServerId);
        lastHeartbeat = now;
    }
    // Fixed rate: a late tick is followed by catch-up ticks, not by drift.
    nextTick += kTickPeriod;
    timer.expires_at(nextTick);
    timer.async_wait([this](const error_code& e) { onTick(e); });
}

bool TcpServer::isRegistered(const std::string& id) {
    std::lock_guard lock(clientsMutex);
    return clients.find(id) != nullptr;
}

std::shared_ptr<TcpClient> TcpServer::findConnection(const std::string& id) {
    std::lock_guard lock(clientsMutex);
    return clients.find(id);
}
