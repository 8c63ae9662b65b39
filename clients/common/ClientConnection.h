#pragma once
// One client connection to the server: blocking connect with a timeout, frames
// out, frames in with a timeout, and the time of the last frame received for
// the heartbeat watchdog. Used by one thread at a time.

#include <json/json.h>

#include <cstdint>
#include <string>

#include "clients/common/ClientMessage.h"
#include "common/MyBuffer.h"

class ClientConnection {
public:
    enum class ReadStatus {
        Message,    // out holds one frame
        Timeout,    // nothing complete arrived in time
        Closed,     // the server closed the connection, or it failed
        Malformed,  // the byte stream broke the frame format; the connection is closed
    };

    ClientConnection() = default;
    ~ClientConnection();
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    // Resolves host (IPv4) and connects within timeoutMs; error says why not.
    bool open(const std::string& host, uint16_t port, int timeoutMs, std::string& error);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    // The socket, for callers that wait on many connections at once.
    int fd() const { return fd_; }

    // Writes one whole frame; false (and closed) when the connection failed.
    bool send(const std::string& cmd, const Json::Value& msg, const uint8_t* binary = nullptr,
              int32_t length = 0);
    // Returns the next frame, waiting at most timeoutMs (0: only what is
    // already there). Empty frames are skipped.
    ReadStatus read(int timeoutMs, ClientMessage& out);
    // Reads what the socket holds now without waiting; Closed or Malformed
    // when the connection ended. Frames are then taken with read(0, ...).
    ReadStatus fill();

    // For measurements: arrivalUs becomes the kernel's receive time of the
    // bytes (microseconds of the realtime clock, 0 when the kernel gave
    // none), so that the reader's own delays do not count. Call after open.
    bool useKernelArrivalTimes();

    // Milliseconds of gettime2 at the last frame received (or at connect).
    int64_t lastFrameMs() const { return lastFrameMs_; }

private:
    bool cut(ClientMessage& out, ReadStatus& status);
    ReadStatus receive(int timeoutMs);

    int fd_ = -1;
    MyBuffer recvBuffer_;
    int64_t lastFrameMs_ = 0;
    int64_t lastReadUs_ = 0;
    bool kernelStamps_ = false;
};

// Microseconds of the monotonic clock.
int64_t monotonicMicros();
