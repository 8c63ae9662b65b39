#include "tests/core/CoreHarness.h"

#include <gtest/gtest.h>

#include <boost/asio/post.hpp>
#include <filesystem>

#include "common/Settings.h"
#include "server/host/AppSettings.h"

CoreHarness::CoreHarness(bool requireLogin) {
    std::filesystem::create_directories(filesDir());
    setCurrentUserRegString(kSettingsKey, "DocDir", doc_.path());
    if (requireLogin) {
        setCurrentUserRegString(kSettingsKey, "RequireLogin", "1");
    }
    start();
}

CoreHarness::~CoreHarness() {
    stop();
}

void CoreHarness::start() {
    server_ = std::make_unique<SonavelServer>(0, doc_.path());
    port_ = server_->localPort();
    thread_ = std::thread([this] { server_->run(); });
}

void CoreHarness::stop() {
    if (!server_) {
        return;
    }
    boost::asio::post(server_->ioContext(), [this] { server_->stop(); });
    thread_.join();
    server_.reset();
}

std::unique_ptr<Peer> CoreHarness::connect(const std::string& id) {
    auto peer = std::make_unique<Peer>(port_);
    EXPECT_TRUE(peer->connected());
    if (!id.empty()) {
        Json::Value msg;
        msg["devId"] = id;
        peer->send("register", msg);
    }
    return peer;
}

std::unique_ptr<Peer> CoreHarness::manager(const std::string& id, const std::string& userName,
                                           const std::string& password) {
    auto peer = connect(id);
    Json::Value msg;
    msg["userName"] = userName;
    msg["password"] = password;
    peer->send("manager-login", msg);
    PeerFrame reply;
    EXPECT_TRUE(peer->take("response-manager-login", reply));
    EXPECT_EQ(reply.msg["err"].asInt(), 0) << userName;
    return peer;
}

std::unique_ptr<Peer> CoreHarness::endpoint(const std::string& id, const std::string& devName) {
    auto peer = connect(id);
    Json::Value msg;
    msg["devName"] = devName;
    peer->send("endpoint-login", msg);
    PeerFrame notice;
    EXPECT_TRUE(peer->take("notify-connected", notice));
    return peer;
}

int countText(const std::string& text, const std::string& needle) {
    int n = 0;
    for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) {
        ++n;
    }
    return n;
}

Json::Value jsonOf(const std::string& text) {
    Json::Value v;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &v, &errors)) << text;
    return v;
}
