// Who receives what: the send operations, "forward-data" and queued jobs,
// checked on real loopback peers.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/transport/TestServer.h"

namespace {

using Cmds = std::vector<std::string>;

// Registered peers a, b, c; peer u never registers. Groups: a and u in g1,
// b in g2, c in none.
class Delivery : public testing::Test {
protected:
    void SetUp() override {
        a = server.connectAs("a");
        b = server.connectAs("b");
        c = server.connectAs("c");
        u = server.connectUnregistered();
        joinGroups(*a, {"g1"});
        joinGroups(*b, {"g2"});
        joinGroups(*u, {"g1"});
    }

    static void joinGroups(FrameClient& peer, const std::vector<std::string>& groups) {
        Json::Value msg;
        msg["groups"] = Json::Value(Json::arrayValue);
        for (const auto& g : groups) {
            msg["groups"].append(g);
        }
        peer.sendFrame("set-groups", msg);
        messagesBeforeMarker(peer);
    }

    // What each peer got since the last call, heartbeats left out.
    std::vector<Cmds> inbox() {
        return {cmdsOf(messagesBeforeMarker(*a)), cmdsOf(messagesBeforeMarker(*b)),
                cmdsOf(messagesBeforeMarker(*c)), cmdsOf(messagesBeforeMarker(*u))};
    }

    static Json::Value forward(const std::string& cmd, const char* dataFlow) {
        Json::Value msg;
        msg["cmd"] = cmd;
        msg["msg"]["n"] = 5;
        if (dataFlow != nullptr) {
            msg["dataFlow"] = dataFlow;
        }
        return msg;
    }

    TestServer server;
    std::unique_ptr<FrameClient> a, b, c, u;
};

}  // namespace

TEST_F(Delivery, SendOperationsReachTheRightPeersAndSkipTheSource) {
    server.sendToAll("all", Json::Value(), nullptr, 0, "a");
    server.sendToOne("b", "one-b", Json::Value(), nullptr, 0, "a");
    server.sendToOne("a", "one-a-from-a", Json::Value(), nullptr, 0, "a");
    server.sendToOne("nobody", "one-nobody", Json::Value(), nullptr, 0, kServerId);
    server.sendToEach({"c", "b", "c", "zz"}, "each", Json::Value(), nullptr, 0, "a");
    server.sendToEach({"a"}, "each-a-from-a", Json::Value(), nullptr, 0, "a");
    EXPECT_EQ((std::vector<Cmds>{{}, {"all", "one-b", "each"}, {"all", "each", "each"}, {}}),
              inbox());
}

TEST_F(Delivery, TargetPoliciesResolveAgainstTheConnectionsOfTheMoment) {
    auto send = [&](TargetPolicy policy, std::vector<std::string> dst, const char* cmd,
                    const std::string& src) {
        Target target{policy, "ignored", std::move(dst)};
        server.onLoop([&] { server.sendToTarget(target, cmd, Json::Value(), nullptr, 0, src); });
    };
    send(ToGroup, {"g1", "g9"}, "g1", kServerId);
    send(ToGroup, {"g1", "g2"}, "g1g2-from-a", "a");
    send(ToTarget, {"c", "a"}, "tc", "a");
    send(ToAll, {"a"}, "all", "b");
    send(static_cast<TargetPolicy>(7), {"a"}, "unknown", kServerId);
    EXPECT_EQ(
        (std::vector<Cmds>{{"g1", "all"}, {"g1g2-from-a"}, {"tc", "all"}, {"g1", "g1g2-from-a"}}),
        inbox());

    // Group membership counts when the message goes out, not when it was made.
    joinGroups(*c, {"g2"});
    send(ToGroup, {"g2"}, "g2", kServerId);
    EXPECT_EQ((std::vector<Cmds>{{}, {"g2"}, {"g2"}, {}}), inbox());
}

TEST_F(Delivery, ForwardDataRelaysInnerMessageWithSenderAsSource) {
    b->sendFrame("forward-data", forward("note", nullptr), std::string("\x00\x01z", 3));
    messagesBeforeMarker(*b);
    auto got = messagesBeforeMarker(*a);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ("note", got[0].cmd);
    EXPECT_EQ(5, got[0].msg["n"].asInt());
    EXPECT_EQ("b", got[0].src);
    EXPECT_EQ(std::string("\x00\x01z", 3), got[0].binary);
    EXPECT_EQ(Cmds{"note"}, cmdsOf(messagesBeforeMarker(*c)));
    EXPECT_TRUE(messagesBeforeMarker(*u).empty());
    // Forwarded data is not handed to the application.
    for (const auto& r : server.received()) {
        EXPECT_NE("forward-data", r.cmd);
    }

    // One at a time: frames of different peers are not ordered against each
    // other. The sender's own marker shows its frame has been handled.
    auto forwardFrom = [&](FrameClient& sender, const Json::Value& msg) {
        sender.sendFrame("forward-data", msg);
        EXPECT_TRUE(messagesBeforeMarker(sender).empty());
        return inbox();
    };
    EXPECT_EQ((std::vector<Cmds>{{}, {}, {"t"}, {}}),
              forwardFrom(*b, forward("t", R"({"policy":"to-target","dst":["c","b"]})")));
    EXPECT_EQ((std::vector<Cmds>{{}, {"g"}, {}, {"g"}}),
              forwardFrom(*a, forward("g", R"({"policy":"to-group","dst":["g1","g2"]})")));
    EXPECT_EQ((std::vector<Cmds>{{"bad-flow"}, {"bad-flow"}, {}, {}}),
              forwardFrom(*c, forward("bad-flow", "not json")));
    EXPECT_EQ((std::vector<Cmds>{{"from-u"}, {"from-u"}, {"from-u"}, {}}),
              forwardFrom(*u, forward("from-u", nullptr)));
}

TEST_F(Delivery, PostedJobsGoOutAtTheNextTickInPostingOrder) {
    const auto posted = std::chrono::steady_clock::now();
    std::thread poster([&] {
        for (int i = 0; i < 10; ++i) {
            Target target{ToTarget, "a", {"a", "b"}};
            server.postToTarget(target, "job", Json::Value(i), nullptr, 0);
        }
        server.postToTarget(Target{static_cast<TargetPolicy>(3), "", {"a"}}, "dropped",
                            Json::Value(), nullptr, 0);
        server.postToTarget(Target{ToAll, kServerId, {}}, "last", Json::Value(), nullptr, 0);
    });
    poster.join();
    for (FrameClient* peer : {a.get(), b.get()}) {
        for (int i = 0; i < 10; ++i) {
            auto frame = peer->readMessage();
            ASSERT_TRUE(frame);
            EXPECT_EQ("job", frame->cmd);
            EXPECT_EQ(i, frame->msg.asInt());
            // Only the server id is skipped: "a" gets its own job, sent as from "a".
            EXPECT_EQ("a", frame->src);
        }
        auto last = peer->readMessage();
        ASSERT_TRUE(last);
        EXPECT_EQ("last", last->cmd);
    }
    // A tick comes every 10 ms; the bound only catches a tick that never came.
    EXPECT_LT(std::chrono::steady_clock::now() - posted, std::chrono::milliseconds(500));
    EXPECT_EQ((std::vector<Cmds>{{}, {}, {"last"}, {}}), inbox());
}
