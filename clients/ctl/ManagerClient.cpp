#include "clients/ctl/ManagerClient.h"

#include "common/Platform.h"

bool ManagerClient::open(const std::string& host, uint16_t port, const std::string& connId,
                         std::string& error) {
    if (!conn_.open(host, port, timeoutMs_, error)) {
        return false;
    }
    Json::Value reg;
    reg["devId"] = connId;
    if (!conn_.send("register", reg)) {
        error = "connection lost while registering";
        return false;
    }
    return true;
}

bool ManagerClient::login(const std::string& user, const std::string& passwordDigest,
                          std::string& error) {
    Json::Value msg;
    msg["userName"] = user;
    msg["password"] = passwordDigest;
    Json::Value reply;
    if (!request("manager-login", msg, "response-manager-login", reply, error)) {
        return false;
    }
    login_ = msg;
    const int err = reply.isObject() && reply["err"].isIntegral() ? reply["err"].asInt() : -1;
    switch (err) {
        case 0:
            return true;
        case 1:
            error = "log-in refused: no account named " + user;
            return false;
        case 2:
            error = "log-in refused: wrong password for " + user;
            return false;
        default:
            error = "log-in refused: unexpected answer " + reply.toStyledString();
            return false;
    }
}

bool ManagerClient::send(const std::string& cmd, const Json::Value& msg, const uint8_t* binary,
                         int32_t length) {
    return conn_.send(cmd, msg, binary, length);
}

bool ManagerClient::waitFor(const std::function<bool(const ClientMessage&)>& accept,
                            ClientMessage& out, std::string& error) {
    const int64_t deadline = gettime2() + timeoutMs_;
    for (;;) {
        const int64_t left = deadline - gettime2();
        if (left <= 0) {
            error = "no answer from the server within " + std::to_string(timeoutMs_) + " ms";
            return false;
        }
        switch (conn_.read(static_cast<int>(left), out)) {
            case ClientConnection::ReadStatus::Message:
                if (accept(out)) {
                    return true;
                }
                break;
            case ClientConnection::ReadStatus::Timeout:
                break;
            case ClientConnection::ReadStatus::Closed:
                error = "the server closed the connection";
                return false;
            case ClientConnection::ReadStatus::Malformed:
                error = "malformed data from the server";
                return false;
        }
    }
}

bool ManagerClient::request(const std::string& cmd, const Json::Value& msg,
                            const std::string& reply, Json::Value& out, std::string& error) {
    if (!conn_.send(cmd, msg)) {
        error = "the connection to the server failed";
        return false;
    }
    ClientMessage m;
    if (!waitFor([&](const ClientMessage& x) { return x.cmd == reply; }, m, error)) {
        return false;
    }
    out = m.msg;
    return true;
}

bool ManagerClient::requestMaybe(const std::string& cmd, const Json::Value& msg,
                                 const std::string& reply, Json::Value& out, bool& found,
                                 std::string& error) {
    if (!conn_.send(cmd, msg) || !conn_.send("manager-login", login_)) {
        error = "the connection to the server failed";
        return false;
    }
    found = false;
    ClientMessage m;
    for (;;) {
        if (!waitFor(
                [&](const ClientMessage& x) {
                    return x.cmd == reply || x.cmd == "response-manager-login";
                },
                m, error)) {
            return false;
        }
        if (m.cmd == "response-manager-login") {
            return true;
        }
        if (!found) {
            found = true;
            out = m.msg;
        }
    }
}

bool ManagerClient::barrier(std::string& error) {
    Json::Value ignored;
    return request("manager-login", login_, "response-manager-login", ignored, error);
}
