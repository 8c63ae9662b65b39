#pragma once
// A loopback test peer on top of FrameClient that keeps what arrives in an
// inbox, so that a test can pick the frame it waits for without losing the
// others. Used by one thread.

#include <json/json.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "tests/support/FrameClient.h"

using PeerFrame = FrameClient::Frame;

class Peer {
public:
    explicit Peer(uint16_t port);

    bool connected() const { return client_ && client_->connected(); }
    void send(const std::string& cmd, const Json::Value& msg = Json::Value(),
              const std::string& binary = "");
    void close() { client_.reset(); }

    // Takes the first frame named cmd, reading until it comes or the time is
    // up; heartbeats are dropped, other frames stay in the inbox.
    bool take(const std::string& cmd, PeerFrame& out, int timeoutMs = 5000);
    // A round trip proving that every earlier command of this peer was handled
    // and every frame sent to it before then is in the inbox. Take the reply
    // of a failed log-in of your own before calling it.
    bool sync(int timeoutMs = 5000);
    const std::deque<PeerFrame>& inbox() const { return inbox_; }
    int count(const std::string& cmd) const;
    void clearInbox() { inbox_.clear(); }

private:
    bool readOne(int timeoutMs);

    std::unique_ptr<FrameClient> client_;
    std::deque<PeerFrame> inbox_;
};
