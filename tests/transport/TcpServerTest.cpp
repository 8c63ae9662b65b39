// The server seen from raw peers on loopback: frame handling per
// connection, registration, heartbeats, containment and stopping.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/transport/TestServer.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string u32(uint32_t v) {
    std::string out;
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>(v >> (8 * i)));
    }
    return out;
}

}  // namespace

TEST(TcpServer, UnregisteredPeerIsHeardAndAnsweredButGetsNoBroadcasts) {
    TestServer server;
    FrameClient peer(server.localPort());
    Json::Value msg;
    msg["k"] = "v";
    ASSERT_TRUE(peer.sendFrame("echo", msg, "tail"));
    auto reply = peer.readFrame();
    ASSERT_TRUE(reply);
    EXPECT_EQ("echo", reply->cmd);
    EXPECT_EQ(msg, reply->msg);
    EXPECT_EQ(kServerId, reply->src);

    auto got = server.received();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ("", got[0].connId);
    EXPECT_EQ("tail", got[0].binary);

    server.sendToAll("news", Json::Value(), nullptr, 0, kServerId);
    // Long enough for a heartbeat to have gone out to registered peers.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_TRUE(messagesBeforeMarker(peer).empty());
    EXPECT_FALSE(peer.readFrame(50));
}

TEST(TcpServer, FramesAreDispatchedWholeInStreamOrderWhateverTheReads) {
    TestServer server;
    FrameClient peer(server.localPort());
    const std::string first = FrameClient::encode("{\"cmd\":\"one\",\"msg\":1}\n", "abc");
    // One frame in three pieces with pauses, so the server reads it in parts.
    peer.sendRaw(first.substr(0, 3));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    peer.sendRaw(first.substr(3, 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(server.received().empty());
    // The rest, then empty frames and two more frames, all in one write.
    peer.sendRaw(first.substr(13) + u32(0) + FrameClient::encode("{\"cmd\":\"two\"}") + u32(0) +
                 FrameClient::encode("{\"msg\":{\"a\":[1]}}"));
    messagesBeforeMarker(peer);

    auto got = server.received();
    ASSERT_EQ(4u, got.size());
    EXPECT_EQ("one", got[0].cmd);
    EXPECT_EQ(Json::Value(1), got[0].msg);
    EXPECT_EQ("abc", got[0].binary);
    EXPECT_EQ("two", got[1].cmd);
    EXPECT_TRUE(got[1].msg.isNull());
    EXPECT_EQ("", got[2].cmd);  // no "cmd": empty name
    EXPECT_EQ(1, got[2].msg["a"][0].asInt());
    EXPECT_EQ("echo", got[3].cmd);
}

TEST(TcpServer, ManyFramesQueuedAtOnceLeaveWholeAndInOrder) {
    TestServer server;
    auto peer = server.connectAs("p");
    auto conn = server.findConnection("p");
    // More frames than one gathered write takes, some large enough to be
    // written in parts.
    server.onLoop([&] {
        for (int i = 0; i < 300; ++i) {
            Json::Value msg(i);
            const std::string tail(i % 50 == 0 ? 300000 : 10, static_cast<char>('a' + i % 26));
            conn->send(buildFrame("seq", msg, kServerId,
                                  reinterpret_cast<const uint8_t*>(tail.data()),
                                  static_cast<int32_t>(tail.size())));
        }
    });
    conn.reset();
    for (int i = 0; i < 300; ++i) {
        auto frame = peer->readMessage();
        ASSERT_TRUE(frame);
        ASSERT_EQ(i, frame->msg.asInt());
        EXPECT_EQ(std::string(i % 50 == 0 ? 300000 : 10, static_cast<char>('a' + i % 26)),
                  frame->binary);
    }
}

TEST(TcpServer, MalformedStreamEndsOnlyThatConnection) {
    TestServer server;
    auto good = server.connectAs("good");
    const std::vector<std::string> malformed = {
        u32(3) + u32(0),                                      // N below 4
        u32(0x1000000) + u32(4),                              // N above the limit, no body sent
        u32(100) + u32(0x80000000),                           // negative J
        u32(10) + u32(8) + "{}\n\n\n\n",                      // J above N - 4
        FrameClient::encode(""),                              // J = 0
        FrameClient::encode("{\"cmd\":"),                     // JSON that does not parse
        FrameClient::encode("[\"register\"]"),                // array root
        FrameClient::encode("12"),                            // number root
        FrameClient::encode("{\"cmd\":[\"forward-data\"]}"),  // cmd not text
    };
    for (const std::string& bytes : malformed) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        FrameClient bad(server.localPort());
        bad.sendRegister("bad");
        messagesBeforeMarker(bad);
        ASSERT_TRUE(server.isRegistered("bad"));
        bad.sendRaw(bytes);
        EXPECT_TRUE(bad.waitClosed());
        EXPECT_TRUE(waitFor([&] { return !server.isRegistered("bad"); }));
    }
    EXPECT_EQ(malformed.size(), server.disconnectedIds().size());
    EXPECT_TRUE(server.isRegistered("good"));
    Json::Value ping("still here");
    good->sendFrame("echo", ping);
    auto reply = good->readMessage();
    ASSERT_TRUE(reply);
    EXPECT_EQ(ping, reply->msg);
}

TEST(TcpServer, ExceptionInAHandlerCostsOnlyThatMessage) {
    TestServer server;
    auto peer = server.connectAs("p");
    auto other = server.connectAs("q");
    peer->sendFrame("throw", Json::Value());
    Json::Value wrongType;
    wrongType["n"] = Json::Value(Json::arrayValue);
    peer->sendFrame("bad-field", wrongType);
    // A built-in given a "msg" of the wrong shape.
    peer->sendFrame("forward-data", Json::Value(Json::arrayValue));
    peer->sendFrame("register", "not an object");
    EXPECT_TRUE(messagesBeforeMarker(*peer).empty());
    EXPECT_TRUE(messagesBeforeMarker(*other).empty());
    EXPECT_TRUE(server.isRegistered("p"));
    EXPECT_TRUE(server.disconnectedIds().empty());
    EXPECT_TRUE(server.running());
}

TEST(TcpServer, HeartbeatsReachRegisteredPeersAboutOnceASecond) {
    TestServer server;
    auto peer = server.connectAs("hb");
    std::vector<Clock::time_point> arrivals;
    while (arrivals.size() < 3) {
        auto frame = peer->readFrame(2500);
        ASSERT_TRUE(frame);
        if (frame->cmd == "heartbeat") {
            EXPECT_EQ(kServerId, frame->src);
            EXPECT_TRUE(frame->msg.isNull());
            EXPECT_EQ(76u, frame->json.size());
            arrivals.push_back(Clock::now());
        }
    }
    for (size_t i = 1; i < arrivals.size(); ++i) {
        const auto gap =
            std::chrono::duration_cast<std::chrono::milliseconds>(arrivals[i] - arrivals[i - 1]);
        // Over a second by the server's clock; loose bounds for a busy machine.
        EXPECT_GE(gap.count(), 900);
        EXPECT_LE(gap.count(), 1600);
    }
}

TEST(TcpServer, NewestRegistrationWinsAndTheOlderConnectionKeepsTalking) {
    TestServer server;
    auto first = server.connectAs("dup");
    auto older = server.findConnection("dup");
    auto second = server.connectAs("dup");
    EXPECT_NE(older, server.findConnection("dup"));
    older.reset();

    server.sendToAll("news", Json::Value(), nullptr, 0, kServerId);
    EXPECT_EQ(std::vector<std::string>{"news"}, cmdsOf(messagesBeforeMarker(*second)));
    // The replaced peer gets nothing more but is still heard, under its id.
    first->sendFrame("hello", Json::Value());
    EXPECT_TRUE(messagesBeforeMarker(*first).empty());
    auto got = server.received();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ("hello", got[got.size() - 2].cmd);
    EXPECT_EQ("dup", got[got.size() - 2].connId);

    // Registering again under its own id keeps a connection registered.
    auto current = server.findConnection("dup");
    second->sendRegister("dup");
    messagesBeforeMarker(*second);
    EXPECT_EQ(current, server.findConnection("dup"));
    current.reset();
}

TEST(TcpServer, EmptyIdIsNeverRegisteredAndRemovesNobody) {
    TestServer server;
    FrameClient member(server.localPort());
    Json::Value groups;
    groups["groups"].append("g1");
    member.sendFrame("set-groups", groups);
    messagesBeforeMarker(member);

    FrameClient blank(server.localPort());
    blank.sendFrame("register", Json::Value(Json::objectValue));  // no "devId"
    blank.sendRegister("");
    messagesBeforeMarker(blank);
    EXPECT_FALSE(server.isRegistered(""));
    EXPECT_EQ(nullptr, server.findConnection(""));

    // The unregistered group member is still listed: group delivery reaches it.
    Target target;
    target.policy = ToGroup;
    target.dst = {"g1"};
    server.onLoop([&] { server.sendToTarget(target, "to-g1", Json::Value(), nullptr, 0, "x"); });
    EXPECT_EQ(std::vector<std::string>{"to-g1"}, cmdsOf(messagesBeforeMarker(member)));
    server.sendToOne("", "to-nobody", Json::Value(), nullptr, 0, kServerId);
    server.sendToAll("to-all", Json::Value(), nullptr, 0, kServerId);
    EXPECT_TRUE(messagesBeforeMarker(blank).empty());
    EXPECT_TRUE(messagesBeforeMarker(member).empty());
}

TEST(TcpServer, StopEndsRunFromTheLoopThreadOrAnother) {
    {
        TestServer server;
        FrameClient peer(server.localPort());
        peer.sendFrame("stop", Json::Value());
        EXPECT_TRUE(waitFor([&] { return server.received().size() == 1; }));
        EXPECT_TRUE(server.finish());
    }
    {
        TestServer server;
        auto peer = server.connectAs("a");
        EXPECT_TRUE(server.finish());
        EXPECT_FALSE(server.isRegistered("a"));
    }
}
