#pragma once
// Commands of a connection that arrive while one of its upload checks runs
// off the network thread. They wait here and are replayed in order once the
// check's reply is sent, so each connection sees its replies in request order.
// Network thread.

#include <json/json.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

class TcpClient;

class CommandHold {
public:
    struct Held {
        std::shared_ptr<TcpClient> conn;
        std::string cmd;
        Json::Value msg;
        std::vector<uint8_t> binary;
    };

    bool isHeld(const std::shared_ptr<TcpClient>& conn) const;
    void hold(const std::shared_ptr<TcpClient>& conn);
    // Keeps a copy of the command; the binary tail is only valid during onCmd.
    void add(const std::shared_ptr<TcpClient>& conn, const std::string& cmd, const Json::Value& msg,
             const uint8_t* binary, int32_t length);
    // Ends the hold and hands back what waited, oldest first.
    std::deque<Held> release(const std::shared_ptr<TcpClient>& conn);

private:
    std::map<std::shared_ptr<TcpClient>, std::deque<Held>> held_;
};
