#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "server/schedule/ScheduleTime.h"
#include "tests/audio/AacTestDecoder.h"
#include "tests/core/CoreHarness.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int todayBit() {
    return dayBitOf(SystemWallClock().now());
}

// Every weekday but today, so a window never holds the current time.
int notToday() {
    return 254 & ~todayBit();
}

Json::Value addMsg(const std::string& id, const std::string& type, const std::string& startTime,
                   int64_t duration, int repeat, const std::string& dest,
                   const Json::Value& content) {
    Json::Value msg;
    msg["id"] = id;
    msg["type"] = type;
    msg["startTime"] = startTime;
    msg["duration"] = static_cast<Json::Int64>(duration);
    msg["repeat"] = repeat;
    msg["dest"] = dest;
    msg["desc"] = "desc of " + id;
    msg["content"] = content;
    return msg;
}

std::string toTarget(const std::vector<std::string>& ids) {
    std::string text = R"({"policy":"to-target","dst":[)";
    for (size_t i = 0; i < ids.size(); ++i) {
        text += (i ? ",\"" : "\"") + ids[i] + "\"";
    }
    return text + "]}";
}

// Frequency from upward zero crossings; plenty for a pure tone.
double toneFrequency(const std::vector<float>& s, size_t from, size_t to) {
    size_t first = 0;
    size_t last = 0;
    int crossings = 0;
    for (size_t i = from + 1; i < to; ++i) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            first = crossings == 0 ? i : first;
            last = i;
            ++crossings;
        }
    }
    return crossings < 2 ? 0 : (crossings - 1) * 44100.0 / static_cast<double>(last - first);
}

double rms(const std::vector<float>& s, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) {
        sum += static_cast<double>(s[i]) * s[i];
    }
    return std::sqrt(sum / static_cast<double>(to - from));
}

class ScheduleCommandsTest : public testing::Test {
protected:
    // Adds a schedule and returns the reply.
    PeerFrame add(Peer& manager, const Json::Value& msg) {
        manager.send("add-schedule", msg);
        PeerFrame reply;
        EXPECT_TRUE(manager.take("response-add-schedule", reply)) << msg["id"].asString();
        return reply;
    }

    // A stereo 1000 Hz tone with a peak of 0.5 on both channels.
    void makeTone(const std::string& name, double seconds) {
        std::string cmd =
            "ffmpeg -loglevel error -y -f lavfi -i "
            "'aevalsrc=0.5*sin(2*PI*1000*t)|0.5*sin(2*PI*1000*t):s=44100:d=" +
            std::to_string(seconds) + "' '" + h.filesDir() + "/" + name + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    CoreHarness h;
};

TEST_F(ScheduleCommandsTest, AddAnswersAndQueryListsTheRows) {
    auto m = h.manager("M1");
    Json::Value content;
    content["text"] = "fire drill";
    PeerFrame reply =
        add(*m, addMsg("n1", "notice", "8:0:0", 60, notToday(), toTarget({"E1"}), content));
    EXPECT_EQ(reply.msg["id"].asString(), "n1");
    EXPECT_EQ(reply.msg["type"].asString(), "notice");
    EXPECT_EQ(reply.msg["desc"].asString(), "desc of n1");
    EXPECT_EQ(reply.msg["startTime"].asString(), "8:0:0");
    EXPECT_EQ(reply.msg["duration"].asInt64(), 60);
    EXPECT_EQ(reply.msg["repeat"].asInt(), notToday());
    EXPECT_EQ(reply.msg["dest"].asString(), toTarget({"E1"}));
    EXPECT_EQ(reply.msg["state"].asString(), "ready");
    EXPECT_FALSE(reply.msg.isMember("content"));
    int64_t created = parseDateTime(reply.msg["createTime"].asString());
    EXPECT_LE(std::llabs(created - localNow()), 5);

    // Shutdown orders always last 8 seconds; quotes in values are stored as given.
    reply = add(*m, addMsg("o'clock", "shutdown", "9:0:0", 3600, notToday(), "", Json::Value()));
    EXPECT_EQ(reply.msg["duration"].asInt64(), 8);

    m->send("query-schedule");
    ASSERT_TRUE(m->take("response-query-schedule", reply));
    const Json::Value& list = reply.msg["schedules"];
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["id"].asString(), "n1");
    EXPECT_EQ(list[0]["duration"].asInt64(), 60);
    EXPECT_EQ(list[0]["state"].asString(), "ready");
    EXPECT_EQ(list[0]["dest"].asString(), toTarget({"E1"}));
    EXPECT_FALSE(list[0].isMember("content"));
    EXPECT_EQ(list[1]["id"].asString(), "o'clock");
    EXPECT_EQ(list[1]["duration"].asInt64(), 8);

    Json::Value byType;
    byType["type"] = "shutdown";
    m->send("query-schedule", byType);
    ASSERT_TRUE(m->take("response-query-schedule", reply));
    ASSERT_EQ(reply.msg["schedules"].size(), 1u);
    EXPECT_EQ(reply.msg["schedules"][0]["id"].asString(), "o'clock");

    // A type with no rows gets no reply at all.
    byType["type"] = "audio";
    m->send("query-schedule", byType);
    ASSERT_TRUE(m->sync());
    EXPECT_EQ(m->count("response-query-schedule"), 0);
}

TEST_F(ScheduleCommandsTest, NoticesAreQueriedAndStoppedTogether) {
    auto m = h.manager("M1");
    auto other = h.manager("M2");
    Json::Value content;
    content["text"] = "assembly";
    add(*m, addMsg("n1", "notice", "now", 600, 255, "", content));
    add(*m, addMsg("n2", "notice", "now", 600, 255, "", Json::Value("plain text")));

    PeerFrame reply;
    m->send("query-notice");
    ASSERT_TRUE(m->take("response-query-notice", reply));
    EXPECT_EQ(reply.msg["text"].asString(), "assembly");

    // Both start within one runner pass and reach every connection.
    auto e1 = h.endpoint("E1");
    ASSERT_TRUE(e1->take("do-schedule", reply, 4000));
    ASSERT_TRUE(e1->take("do-schedule", reply, 4000));

    m->send("stop-notice");
    ASSERT_TRUE(other->take("stop-notice", reply));
    EXPECT_TRUE(reply.msg.isNull());
    EXPECT_EQ(reply.src, "M1");
    ASSERT_TRUE(e1->take("stop-notice", reply));
    ASSERT_TRUE(m->sync());
    EXPECT_EQ(m->count("stop-notice"), 0);

    // Gone from the running set: a later endpoint is not told of them.
    auto e2 = h.endpoint("E2");
    ASSERT_TRUE(e2->sync());
    EXPECT_EQ(e2->count("do-schedule"), 0);
    m->send("query-notice");
    ASSERT_TRUE(m->sync());
    EXPECT_EQ(m->count("response-query-notice"), 0);
}

TEST_F(ScheduleCommandsTest, NoticeWithPlainContentGetsNoQueryReply) {
    auto m = h.manager("M1");
    add(*m, addMsg("n", "notice", "8:0:0", 60, notToday(), "", Json::Value(42)));
    m->send("query-notice");
    ASSERT_TRUE(m->sync());
    EXPECT_EQ(m->count("response-query-notice"), 0);
}

// The whole road of a broadcast: a "now" audio schedule to one listed
// endpoint, a late endpoint joining, the sound decoded, and a stop.
TEST_F(ScheduleCommandsTest, NowAudioScheduleStreamsJoinsLateAndStops) {
    makeTone("tone.wav", 10.0);
    auto m = h.manager("M1");
    auto e1 = h.endpoint("E1");
    auto bystander = h.endpoint("E9");
    Json::Value content;
    content["file"] = "tone.wav";
    PeerFrame reply =
        add(*m, addMsg("a1", "audio", "now", 60, 255, toTarget({"E1", "E2"}), content));
    EXPECT_EQ(reply.msg["state"].asString(), "running");

    PeerFrame frame;
    ASSERT_TRUE(m->take("update-schedule-state", frame, 4000));
    EXPECT_EQ(frame.msg["state"].asString(), "running");

    // "do-schedule" comes first, then the packets at playback pace.
    ASSERT_TRUE(e1->take("do-schedule", frame, 4000));
    EXPECT_EQ(frame.msg["id"].asString(), "a1");
    EXPECT_EQ(frame.msg["type"].asString(), "audio");
    EXPECT_EQ(frame.msg["duration"].asInt64(), 60);
    EXPECT_EQ(e1->count("audio-frame-data"), 0);
    std::vector<std::vector<uint8_t>> packets;
    auto begin = Clock::now();
    while (Clock::now() - begin < 2s) {
        ASSERT_TRUE(e1->take("audio-frame-data", frame, 1000));
        EXPECT_EQ(frame.src, "");
        EXPECT_EQ(frame.msg["id"].asString(), "a1");
        packets.emplace_back(frame.binary.begin(), frame.binary.end());
    }
    // 44100 / 512 = 86.1 packets a second, with the first block at once.
    EXPECT_GE(packets.size(), 160u);
    EXPECT_LE(packets.size(), 200u);

    DecodedPcm pcm;
    ASSERT_TRUE(decodeAac({0xBA, 0x11, 0x00}, packets, pcm));
    ASSERT_GT(pcm.left.size(), 44100u);
    EXPECT_NEAR(toneFrequency(pcm.left, 4096, 44100), 1000.0, 5.0);
    EXPECT_NEAR(toneFrequency(pcm.right, 4096, 44100), 1000.0, 5.0);
    // Its level comes through: a peak of 0.5 is an RMS of 0.354.
    EXPECT_NEAR(rms(pcm.left, 4096, 44100), 0.5 / std::sqrt(2.0), 0.02);
    EXPECT_NEAR(rms(pcm.right, 4096, 44100), 0.5 / std::sqrt(2.0), 0.02);

    // A listed endpoint that comes later is told of the schedule and gets
    // the packets that follow; an endpoint not listed gets nothing.
    auto e2 = h.endpoint("E2");
    ASSERT_TRUE(e2->take("do-schedule", frame));
    EXPECT_EQ(frame.msg["id"].asString(), "a1");
    ASSERT_TRUE(e2->take("audio-frame-data", frame));
    ASSERT_TRUE(bystander->sync());
    EXPECT_EQ(bystander->count("do-schedule"), 0);
    EXPECT_EQ(bystander->count("audio-frame-data"), 0);

    Json::Value stop;
    stop["id"] = "a1";
    m->send("stop-schedule", stop);
    ASSERT_TRUE(e1->take("stop-schedule", frame));
    EXPECT_EQ(frame.msg["id"].asString(), "a1");
    ASSERT_TRUE(m->take("update-schedule-state", frame));
    EXPECT_EQ(frame.msg["state"].asString(), "ready");  // weekly
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(e1->sync());
    e1->clearInbox();
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(e1->sync());
    EXPECT_EQ(e1->count("audio-frame-data"), 0);

    // Stopped inside its window, it is not started again by the next passes.
    std::this_thread::sleep_for(2500ms);
    ASSERT_TRUE(e1->sync());
    EXPECT_EQ(e1->count("do-schedule"), 0);
}

TEST_F(ScheduleCommandsTest, DeletingAPlayingScheduleEndsItsStream) {
    makeTone("tone.wav", 5.0);
    auto m = h.manager("M1");
    auto e1 = h.endpoint("E1");
    Json::Value content;
    content["file"] = "tone.wav";
    add(*m, addMsg("d1", "audio", "now", 60, 255, "", content));
    PeerFrame frame;
    ASSERT_TRUE(e1->take("audio-frame-data", frame, 4000));

    Json::Value del;
    del["id"] = "d1";
    m->send("delete-schedule", del);
    ASSERT_TRUE(m->take("response-delete-schedule", frame));
    EXPECT_EQ(frame.msg["id"].asString(), "d1");
    ASSERT_TRUE(e1->take("stop-schedule", frame));
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(e1->sync());
    e1->clearInbox();
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(e1->sync());
    EXPECT_EQ(e1->count("audio-frame-data"), 0);

    m->send("query-schedule");
    ASSERT_TRUE(m->sync());
    EXPECT_EQ(m->count("response-query-schedule"), 0);
}

TEST_F(ScheduleCommandsTest, LateEndpointJoinsThroughItsGroup) {
    auto m = h.manager("M1");
    Json::Value group;
    group["groupId"] = "G1";
    group["groupName"] = "hall";
    m->send("add-group", group);
    Json::Value member;
    member["groupId"] = "G1";
    member["endpoints"].append("E5");
    m->send("add-member-to-group", member);
    ASSERT_TRUE(m->sync());

    add(*m, addMsg("g", "notice", "now", 600, 255, R"({"policy":"to-group","dst":["G1"]})",
                   Json::Value("{}")));
    PeerFrame frame;
    ASSERT_TRUE(m->take("update-schedule-state", frame, 4000));

    auto e5 = h.endpoint("E5");
    ASSERT_TRUE(e5->take("do-schedule", frame));
    EXPECT_EQ(frame.msg["id"].asString(), "g");
    EXPECT_EQ(frame.src, "00000000-0000-0000-0000-000000000000");
    auto e6 = h.endpoint("E6");
    ASSERT_TRUE(e6->sync());
    EXPECT_EQ(e6->count("do-schedule"), 0);
}

TEST_F(ScheduleCommandsTest, StopOfUnknownIdStillTellsEveryone) {
    auto m = h.manager("M1");
    auto e1 = h.endpoint("E1");
    Json::Value stop;
    stop["id"] = "nothing";
    m->send("stop-schedule", stop);
    PeerFrame frame;
    ASSERT_TRUE(e1->take("stop-schedule", frame));
    EXPECT_EQ(frame.msg["id"].asString(), "nothing");
    ASSERT_TRUE(m->sync());
    EXPECT_EQ(m->count("update-schedule-state"), 0);
}

TEST_F(ScheduleCommandsTest, ServerStopEndsStreamsAndRunner) {
    makeTone("tone.wav", 5.0);
    auto m = h.manager("M1");
    auto e1 = h.endpoint("E1");
    Json::Value content;
    content["file"] = "tone.wav";
    add(*m, addMsg("s1", "audio", "now", 60, 255, "", content));
    PeerFrame frame;
    ASSERT_TRUE(e1->take("audio-frame-data", frame, 4000));
    auto begin = Clock::now();
    h.stop();
    EXPECT_LT(Clock::now() - begin, 2s);
}

}  // namespace
