#include "server/core/Request.h"

#include <cstring>

#include "common/Logger.h"

namespace {

bool isPlain(const Json::Value& v) {
    return !v.isArray() && !v.isObject();
}

}  // namespace

Request::Request(const std::shared_ptr<TcpClient>& conn, const std::string& connId,
                 const std::string& cmd, const Json::Value& msg, const uint8_t* binary,
                 int32_t length)
    : conn(conn), connId(connId), cmd(cmd), binary(binary), length(length), msg_(msg) {
    if (!msg_.isNull() && !msg_.isObject()) {
        badField("msg");
    }
}

const Json::Value* Request::find(const char* key) const {
    if (!msg_.isObject()) {
        return nullptr;
    }
    return msg_.find(key, key + std::strlen(key));
}

void Request::badField(const char* key) const {
    if (!logged_) {
        logged_ = true;
        gLogger().logout("bad field: %s, %s, %s", cmd.c_str(), key, connId.c_str());
    }
}

bool Request::has(const char* key) const {
    return find(key) != nullptr;
}

std::string Request::text(const char* key) const {
    const Json::Value* v = find(key);
    if (!v) {
        return "";
    }
    if (!isPlain(*v)) {
        badField(key);
        return "";
    }
    return v->asString();
}

std::vector<std::string> Request::texts(const char* key) const {
    std::vector<std::string> out;
    const Json::Value* v = find(key);
    if (!v || v->isNull()) {
        return out;
    }
    if (!v->isArray()) {
        badField(key);
        return out;
    }
    for (const auto& element : *v) {
        if (isPlain(element)) {
            out.push_back(element.asString());
        } else {
            badField(key);
        }
    }
    return out;
}

int64_t Request::int64(const char* key) const {
    const Json::Value* v = find(key);
    if (!v || v->isNull()) {
        return 0;
    }
    if (v->isInt64()) {
        return v->asInt64();
    }
    badField(key);
    return 0;
}

Json::Value Request::value(const char* key) const {
    const Json::Value* v = find(key);
    return v ? *v : Json::Value();
}
