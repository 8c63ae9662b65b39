// A peer that stops reading, and a process out of descriptors: the server
// drops or waits, logs, and serves everyone else meanwhile.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/transport/TestServer.h"

namespace {

constexpr int kFrameBytes = 256 * 1024;
// A receive window this small makes a peer that does not read stall at once.
constexpr int kTinyReceiveBuffer = 4096;

std::unique_ptr<FrameClient> connectNonReader(TestServer& server, const std::string& id) {
    auto peer = std::make_unique<FrameClient>(server.localPort(), kTinyReceiveBuffer);
    peer->sendRegister(id);
    messagesBeforeMarker(*peer);
    return peer;
}

// Sends big frames to everyone, one at a time, each read by the reader
// before the next goes out, until stop() holds or limit frames are sent.
// Returns the number sent; every one must have reached the reader.
int feedInLockstep(TestServer& server, FrameClient& reader, const std::function<bool()>& stop,
                   int limit, std::chrono::milliseconds pause) {
    const std::vector<uint8_t> payload(kFrameBytes, 0x5A);
    int sent = 0;
    while (sent < limit && !stop()) {
        server.sendToAll("bulk", Json::Value(sent), payload.data(), kFrameBytes, kServerId);
        ++sent;
        auto frame = reader.readMessage(3000);
        EXPECT_TRUE(frame && frame->msg.asInt() == sent - 1 &&
                    frame->binary.size() == static_cast<size_t>(kFrameBytes));
        std::this_thread::sleep_for(pause);
    }
    return sent;
}

}  // namespace

TEST(ServerLimits, PeerWhoseQueueOverflowsIsDroppedOthersKeepReceiving) {
    SendLimits limits;
    limits.maxQueuedBytes = 1 << 20;
    TestServer server(limits);
    auto reader = server.connectAs("reader");
    auto stuck = connectNonReader(server, "stuck");

    const int sent = feedInLockstep(
        server, *reader, [&] { return !server.isRegistered("stuck"); }, 200,
        std::chrono::milliseconds(0));
    EXPECT_LT(sent, 200);
    EXPECT_FALSE(server.isRegistered("stuck"));
    EXPECT_TRUE(waitFor([&] { return server.disconnectedIds().size() == 1; }));
    EXPECT_EQ(std::vector<std::string>{"stuck"}, server.disconnectedIds());
    EXPECT_TRUE(stuck->waitClosed(5000));

    // The dropped peer is gone for good; the reader goes on as before.
    server.sendToAll("after", Json::Value(), nullptr, 0, kServerId);
    EXPECT_EQ(std::vector<std::string>{"after"}, cmdsOf(messagesBeforeMarker(*reader)));
    EXPECT_TRUE(server.isRegistered("reader"));
}

TEST(ServerLimits, PeerWithoutWriteProgressIsDroppedAfterTheStallTimeout) {
    SendLimits limits;
    limits.stallTimeout = std::chrono::milliseconds(400);
    TestServer server(limits);
    auto reader = server.connectAs("reader");
    auto stuck = connectNonReader(server, "stuck");

    const auto start = std::chrono::steady_clock::now();
    const int sent = feedInLockstep(
        server, *reader, [&] { return !server.isRegistered("stuck"); }, 500,
        std::chrono::milliseconds(10));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(server.isRegistered("stuck"));
    EXPECT_LT(sent, 500);
    // Far below the queue bound: the stall, not the size, ended it.
    EXPECT_LT(static_cast<size_t>(sent) * kFrameBytes, limits.maxQueuedBytes);
    EXPECT_GE(took, limits.stallTimeout);
    EXPECT_EQ(std::vector<std::string>{"stuck"}, server.disconnectedIds());
    EXPECT_TRUE(server.isRegistered("reader"));
}

TEST(ServerLimits, AcceptOutOfDescriptorsIsRetriedAfterAPause) {
    TestServer server;
    rlimit saved{};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &saved));
    // Leave exactly one free descriptor: the client's socket takes it, so
    // the server's accept finds none.
    const int lowestFree = dup(0);
    ASSERT_GE(lowestFree, 0);
    close(lowestFree);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree) + 1;
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &tight));
    FrameClient peer(server.localPort());
    const bool connected = peer.connected();
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    const int failures = server.failedAccepts();
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &saved));

    ASSERT_TRUE(connected);
    // Retried about every 100 ms, not in a busy loop.
    EXPECT_GE(failures, 2);
    EXPECT_LE(failures, 8);
    Json::Value ping("late but served");
    peer.sendFrame("echo", ping);
    auto reply = peer.readMessage();
    ASSERT_TRUE(reply);
    EXPECT_EQ(ping, reply->msg);
}
