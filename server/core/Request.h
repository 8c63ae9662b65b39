#pragma once
// One command as its handler sees it, with field reads that never throw: a
// field of the wrong JSON type reads as absent, and the first such field of a
// request is logged. Network thread.

#include <json/json.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TcpClient;

class Request {
public:
    Request(const std::shared_ptr<TcpClient>& conn, const std::string& connId,
            const std::string& cmd, const Json::Value& msg, const uint8_t* binary, int32_t length);

    const std::shared_ptr<TcpClient>& conn;
    const std::string& connId;
    const std::string& cmd;
    const uint8_t* const binary;
    const int32_t length;

    bool has(const char* key) const;
    // Text, number or boolean as text; absent or null: the empty text.
    std::string text(const char* key) const;
    // An array's elements as text; absent: no elements.
    std::vector<std::string> texts(const char* key) const;
    // An integral number; absent: 0.
    int64_t int64(const char* key) const;
    // Any value, copied unchanged; absent: null.
    Json::Value value(const char* key) const;
    // The whole message as it came.
    const Json::Value& msg() const { return msg_; }

private:
    const Json::Value* find(const char* key) const;
    void badField(const char* key) const;

    const Json::Value& msg_;
    mutable bool logged_ = false;
};
