#pragma once
// A blocking loopback peer for tests: connects to the message server, sends
// frames or raw bytes, and reads frames with a timeout. Used by one thread.
// It decodes frames on its own rather than through the server's cutter, so
// tests check the wire bytes, not the parser against itself.

#include <json/json.h>

#include <cstdint>
#include <optional>
#include <string>

class FrameClient {
public:
    struct Frame {
        std::string json;  // the JSON text as sent, line feed included
        std::string cmd;
        Json::Value msg;
        std::string src;
        std::string binary;
    };

    // Connects to 127.0.0.1:port. A receive buffer size above 0 is set
    // before connecting, to make a peer that reads slowly or not at all.
    explicit FrameClient(uint16_t port, int receiveBufferSize = 0);
    ~FrameClient();
    FrameClient(const FrameClient&) = delete;
    FrameClient& operator=(const FrameClient&) = delete;

    bool connected() const { return fd >= 0; }

    bool sendRaw(const std::string& bytes);
    bool sendFrame(const std::string& cmd, const Json::Value& msg,
                   const std::string& binary = std::string());
    bool sendRegister(const std::string& devId);

    // The next frame, or nothing after timeoutMs, at end of stream or on
    // bytes that are not a frame.
    std::optional<Frame> readFrame(int timeoutMs = 2000);
    // The next frame that is not a heartbeat.
    std::optional<Frame> readMessage(int timeoutMs = 2000);
    // Reads and drops data until the server ends the connection; false if it
    // is still open after timeoutMs.
    bool waitClosed(int timeoutMs = 2000);

    // Raw frame bytes: both length fields, the text and the binary tail.
    static std::string encode(const std::string& json, const std::string& binary = std::string());

private:
    // Waits up to timeoutMs for more bytes; false on timeout, end or error.
    bool fill(int timeoutMs);

    int fd = -1;
    std::string pending;
};
