#pragma once
// The message server: listens, keeps the registry of connections, handles
// "register" and "forward-data", delivers frames and sends heartbeats.
// The event loop runs on the thread that calls run(); the send, post and
// lookup operations may be called from any thread unless marked otherwise.

#include <json/json.h>

#include <atomic>
#include <boost/asio.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "common/MyMutex.h"
#include "server/transport/ClientRegistry.h"
#include "server/transport/Frame.h"
#include "server/transport/Target.h"
#include "server/transport/TcpClient.h"

// What a peer that stops reading may cost before it is dropped.
struct SendLimits {
    size_t maxQueuedBytes = size_t{64} << 20;  // above any legal frame, plus a backlog
    std::chrono::milliseconds stallTimeout{30000};
};

class TcpServer {
public:
    // Listens on all IPv4 interfaces; port 0 picks a free port. Throws
    // boost::system::system_error named after the failed step ("open",
    // "set_option", "bind", "listen") when the socket cannot be set up.
    explicit TcpServer(uint16_t port);
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // Connections handed out by this server must be released before it is destroyed.
    virtual ~TcpServer();
    // Runs the event loop on the calling thread until stop(). False when an
    // error ended the loop.
    virtual bool run();
    // Closes the listening socket, empties the registry and ends the loop.
    // From another thread it is posted to the loop.
    virtual void stop();
    // Event-loop thread: removes the connection from the registry.
    virtual void onDisconnect(const std::shared_ptr<TcpClient>& conn);
    // Event-loop thread: handles "register" and "forward-data" and returns
    // true; false for every other command.
    virtual bool onCmd(const std::shared_ptr<TcpClient>& conn, const std::string& connId,
                       const std::string& cmd, const Json::Value& msg, const uint8_t* binary,
                       int32_t length);
    // Event-loop thread: lists the new connection, starts reading it and
    // starts the next accept. True when the connection was listed.
    virtual bool onAccept(const std::shared_ptr<TcpClient>& conn,
                          const boost::system::error_code& error);

    // Ready frames to the registered connections; except is the id skipped.
    void deliverToAll(const FramePtr& frame, const std::string& except);
    void deliverToOne(const std::string& id, const FramePtr& frame, const std::string& except);
    // Event-loop thread only: groups are kept on that thread.
    void deliverToGroups(const std::vector<std::string>& groupIds, const FramePtr& frame,
                         const std::string& except);
    void deliverToEach(const std::vector<std::string>& ids, const FramePtr& frame,
                       const std::string& except);

    // Reply on one connection, registered or not, from the server id.
    void sendToConn(const std::shared_ptr<TcpClient>& conn, const std::string& cmd,
                    const Json::Value& msg);
    void sendToAll(const std::string& cmd, const Json::Value& msg, const uint8_t* binary,
                   int32_t length, const std::string& src);
    void sendToOne(const std::string& id, const std::string& cmd, const Json::Value& msg,
                   const uint8_t* binary, int32_t length, const std::string& src);
    void sendToEach(const std::vector<std::string>& ids, const std::string& cmd,
                    const Json::Value& msg, const uint8_t* binary, int32_t length,
                    const std::string& src);
    // Event-loop thread only (a to-group target reads groups).
    void sendToTarget(const Target& target, const std::string& cmd, const Json::Value& msg,
                      const uint8_t* binary, int32_t length, const std::string& src);
    // Queues the message; the next tick delivers it with the server id skipped.
    void postToTarget(const Target& target, const std::string& cmd, const Json::Value& msg,
                      const uint8_t* binary, int32_t length);

    // An empty id is never registered.
    bool isRegistered(const std::string& id);
    std::shared_ptr<TcpClient> findConnection(const std::string& id);

    boost::asio::io_context& ioContext() { return io; }
    uint16_t localPort() const { return port; }
    // Set before run().
    void setSendLimits(const SendLimits& value) { limits = value; }
    const SendLimits& sendLimits() const { return limits; }

private:
    struct SendJob {
        Target target;
        FramePtr frame;
    };
    using Conns = std::vector<std::shared_ptr<TcpClient>>;

    void startAccept();
    void retryAccept();
    void onTick(const boost::system::error_code& error);
    void deliverByPolicy(const Target& target, const FramePtr& frame, const std::string& except);
    void handleRegister(const std::shared_ptr<TcpClient>& conn, const Json::Value& msg);
    void handleForward(const std::string& connId, const Json::Value& msg, const uint8_t* binary,
                       int32_t length);
    void closeListener();
    static void sendAll(const Conns& picked, const FramePtr& frame);

    // Declared first so that it outlives everything bound to it.
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor;
    boost::asio::steady_timer timer;
    boost::asio::steady_timer acceptRetry;
    std::chrono::steady_clock::time_point nextTick;
    uint16_t port = 0;
    SendLimits limits;
    FramePtr heartbeat;
    int64_t lastHeartbeat = 0;

    MyMutex clientsMutex;
    ClientRegistry clients;
    MyMutex jobsMutex;
    std::deque<SendJob> jobs;
};
