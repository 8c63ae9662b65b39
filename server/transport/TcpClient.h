#pragma once
// One accepted connection. Everything runs on the server's event-loop
// thread except send(), which any thread may call.

#include <boost/asio.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "common/MyBuffer.h"
#include "server/transport/Frame.h"

class TcpServer;

class TcpClient : public std::enable_shared_from_this<TcpClient> {
public:
    static constexpr size_t kReadSize = 16384;

    TcpClient(boost::asio::io_context& io, TcpServer& server);
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    std::string addr;                 // peer's IPv4 address, dotted decimal
    std::string id;                   // set by "register"; changed under the registry lock
    std::vector<std::string> groups;  // group ids, event-loop thread only

    boost::asio::ip::tcp::socket& socket() { return sock; }

    void startRead();
    // Any thread: hands the frame to the event loop, which queues and writes
    // it. A null frame is ignored.
    void send(FramePtr frame);

private:
    friend class ClientRegistry;
    using Clock = std::chrono::steady_clock;

    void onRead(const boost::system::error_code& error, size_t count);
    int32_t parseFrame();
    void dispatch(const ParsedFrame& frame);
    void doSend(FramePtr frame);
    void startWrite();
    void onWrite(const boost::system::error_code& error, size_t count);
    void consumeWritten(size_t count);
    void releaseQueue();
    void armStallTimer();
    void onStallTimer(const boost::system::error_code& error);
    void drop(const char* why);
    void closeSocket();
    void reportDisconnect();

    boost::asio::io_context& io;
    TcpServer& server;
    boost::asio::ip::tcp::socket sock;
    std::unique_ptr<uint8_t[]> readBuffer;
    MyBuffer recvBuffer;

    std::deque<FramePtr> sendQueue;
    size_t queuedBytes = 0;
    size_t frontWritten = 0;  // bytes of the front frame already written
    std::vector<boost::asio::const_buffer> writeBuffers;
    bool writing = false;  // a write is due or in flight
    bool closed = false;   // closed by this side; later frames are dropped
    bool disconnectReported = false;
    Clock::time_point lastProgress;
    boost::asio::steady_timer stallTimer;
    bool stallTimerArmed = false;

    // Registry bookkeeping, guarded by the server's registry lock.
    uint64_t seq = 0;
    bool listed = false;
};
