#include "server/core/CommandHold.h"

bool CommandHold::isHeld(const std::shared_ptr<TcpClient>& conn) const {
    return held_.count(conn) != 0;
}

void CommandHold::hold(const std::shared_ptr<TcpClient>& conn) {
    held_[conn];
}

void CommandHold::add(const std::shared_ptr<TcpClient>& conn, const std::string& cmd,
                      const Json::Value& msg, const uint8_t* binary, int32_t length) {
    Held item{conn, cmd, msg, {}};
    if (binary && length > 0) {
        item.binary.assign(binary, binary + length);
    }
    held_[conn].push_back(std::move(item));
}

std::deque<CommandHold::Held> CommandHold::release(const std::shared_ptr<TcpClient>& conn) {
    std::deque<Held> waiting;
    auto it = held_.find(conn);
    if (it != held_.end()) {
        waiting = std::move(it->second);
        held_.erase(it);
    }
    return waiting;
}
