#pragma once
// The manager's side of a connection for sonavelctl: register, log in, send
// requests and wait for their replies, skipping whatever else arrives
// (heartbeats, broadcasts meant for everyone). Main thread.

#include <json/json.h>

#include <functional>
#include <string>

#include "clients/common/ClientConnection.h"

class ManagerClient {
public:
    explicit ManagerClient(int timeoutMs) : timeoutMs_(timeoutMs) {}

    // Connects and registers under connId; error says why not.
    bool open(const std::string& host, uint16_t port, const std::string& connId,
              std::string& error);
    // "manager-login" with the password digest; error names the refusal.
    bool login(const std::string& user, const std::string& passwordDigest, std::string& error);

    bool send(const std::string& cmd, const Json::Value& msg, const uint8_t* binary = nullptr,
              int32_t length = 0);
    // Waits for the next message for which accept is true, up to the
    // timeout; false with error set when it did not come.
    bool waitFor(const std::function<bool(const ClientMessage&)>& accept, ClientMessage& out,
                 std::string& error);
    // Sends cmd and waits for a message named reply.
    bool request(const std::string& cmd, const Json::Value& msg, const std::string& reply,
                 Json::Value& out, std::string& error);
    // Sends cmd, whose reply may not come at all (an empty list, a failed
    // statement), followed by the log-in again: it is answered on this
    // connection whatever the account may do, and repeating it changes
    // nothing. Commands of one connection are handled in order, so when the
    // log-in's answer comes first there is no reply. found says whether reply
    // came; false only when the connection failed.
    bool requestMaybe(const std::string& cmd, const Json::Value& msg, const std::string& reply,
                      Json::Value& out, bool& found, std::string& error);

    // Returns once every request sent before has been handled.
    bool barrier(std::string& error);

    // For watch: the next message of any kind, waiting up to timeoutMs.
    ClientConnection::ReadStatus next(int timeoutMs, ClientMessage& out) {
        return conn_.read(timeoutMs, out);
    }
    int64_t lastFrameMs() const { return conn_.lastFrameMs(); }

private:
    ClientConnection conn_;
    Json::Value login_;
    int timeoutMs_;
};
