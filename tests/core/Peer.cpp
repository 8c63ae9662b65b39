#include "tests/core/Peer.h"

#include <algorithm>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
}

}  // namespace

Peer::Peer(uint16_t port) : client_(std::make_unique<FrameClient>(port)) {}

void Peer::send(const std::string& cmd, const Json::Value& msg, const std::string& binary) {
    if (client_) {
        client_->sendFrame(cmd, msg, binary);
    }
}

bool Peer::readOne(int timeoutMs) {
    if (!client_) {
        return false;
    }
    auto frame = client_->readMessage(timeoutMs);
    if (!frame) {
        return false;
    }
    inbox_.push_back(std::move(*frame));
    return true;
}

bool Peer::take(const std::string& cmd, PeerFrame& out, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t checked = 0;
    for (;;) {
        for (; checked < inbox_.size(); ++checked) {
            if (inbox_[checked].cmd == cmd) {
                out = std::move(inbox_[checked]);
                inbox_.erase(inbox_.begin() + static_cast<long>(checked));
                return true;
            }
        }
        if (msLeft(deadline) == 0 || !readOne(msLeft(deadline))) {
            return false;
        }
    }
}

bool Peer::sync(int timeoutMs) {
    // A log-in for an account that cannot exist: always answered at once, on
    // this connection, and changes nothing.
    Json::Value msg;
    msg["userName"] = "\x01sync";
    send("manager-login", msg);
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (size_t checked = inbox_.size();;) {
        for (; checked < inbox_.size(); ++checked) {
            const PeerFrame& f = inbox_[checked];
            if (f.cmd == "response-manager-login" && f.msg["err"].asInt() == 1) {
                inbox_.erase(inbox_.begin() + static_cast<long>(checked));
                return true;
            }
        }
        if (msLeft(deadline) == 0 || !readOne(msLeft(deadline))) {
            return false;
        }
    }
}

int Peer::count(const std::string& cmd) const {
    return static_cast<int>(std::count_if(inbox_.begin(), inbox_.end(),
                                          [&](const PeerFrame& f) { return f.cmd == cmd; }));
}
