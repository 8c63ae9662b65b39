#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "server/schedule/Schedule.h"
#include "server/schedule/ScheduleRules.h"
#include "server/schedule/ScheduleRunner.h"
#include "tests/schedule/FakeScheduleHost.h"

namespace {

using namespace std::chrono_literals;

// A tone of the given length in the host's Files folder, made by the ffmpeg tool.
void makeTone(FakeScheduleHost& host, const std::string& name, double seconds) {
    std::string cmd =
        "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=" +
        std::to_string(seconds) + " -ac 2 '" + host.filesFolder() + "/" + name + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

size_t countCmd(const std::vector<SentFrame>& frames, const std::string& cmd) {
    size_t n = 0;
    for (const auto& f : frames) {
        n += f.cmd == cmd ? 1 : 0;
    }
    return n;
}

class SchedulePlaybackTest : public testing::Test {
protected:
    SchedulePlaybackTest() : runner(host, clock) {}

    // An audio row whose window holds the clock's current time, started by one pass.
    void startAudio(const std::string& id, const std::string& file) {
        clock.set(SystemWallClock().now());
        LocalTime t = clock.now();
        int64_t start = std::max<int64_t>(0, secondsOfDay(t) - 1);
        host.addRow(id, "audio", "{\"file\":\"" + file + "\"}\n", 254 | 1,
                    formatDateTime(localNow()), formatTimeOfDay(start), 3600, kStateReady,
                    R"({"policy":"to-target","dst":["E1"]})");
        runner.runPass();
    }

    FakeScheduleHost host;
    FakeClock clock;
    ScheduleRunner runner;
};

TEST_F(SchedulePlaybackTest, StreamsAtPlaybackPaceAfterDoScheduleAndStopsPromptly) {
    makeTone(host, "tone.wav", 5.0);
    startAudio("a1", "tone.wav");
    std::this_thread::sleep_for(2s);
    auto frames = host.take();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].cmd, "do-schedule");
    size_t packets = countCmd(frames, "audio-frame-data");
    // 44100 / 512 = 86.1 packets a second; the first block comes at once.
    EXPECT_GE(packets, 150u);
    EXPECT_LE(packets, 200u);
    for (const auto& f : frames) {
        if (f.cmd == "audio-frame-data") {
            EXPECT_EQ(f.msg["id"].asString(), "a1");
            EXPECT_EQ(f.target.src, "");
            EXPECT_EQ(f.target.dst, (std::vector<std::string>{"E1"}));
            EXPECT_GT(f.length, 0u);
        }
    }

    auto begin = std::chrono::steady_clock::now();
    host.scheduleRegistry().stopRunning("a1");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
    host.take();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(countCmd(host.take(), "audio-frame-data"), 0u);
}

TEST_F(SchedulePlaybackTest, ShortFileLoopsUntilStopped) {
    makeTone(host, "short.wav", 0.5);
    startAudio("loop", "short.wav");
    std::this_thread::sleep_for(2500ms);
    // Each pass of half a second drops its last partial block; the loop
    // still keeps the stream going well past the file's own length.
    size_t packets = countCmd(host.take(), "audio-frame-data");
    EXPECT_GE(packets, 100u);
    host.scheduleRegistry().stopRunning("loop");
    host.take();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(countCmd(host.take(), "audio-frame-data"), 0u);
}

TEST_F(SchedulePlaybackTest, MissingFileLeavesTheScheduleRunningWithoutStream) {
    startAudio("none", "missing.wav");
    std::this_thread::sleep_for(300ms);
    auto frames = host.take();
    EXPECT_EQ(countCmd(frames, "do-schedule"), 1u);
    EXPECT_EQ(countCmd(frames, "audio-frame-data"), 0u);
    EXPECT_EQ(host.stateOf("none"), kStateRunning);
    EXPECT_EQ(host.scheduleRegistry().runningIds(), (std::vector<std::string>{"none"}));
}

TEST_F(SchedulePlaybackTest, FileOutsideTheFilesFolderIsRefused) {
    makeTone(host, "tone.wav", 0.5);
    startAudio("escape", "../Files/tone.wav");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(countCmd(host.take(), "audio-frame-data"), 0u);
}

// Stops that race the opening thread and the restarts at the end of the
// file: no stream may outlive its stop, whatever the interleaving.
TEST_F(SchedulePlaybackTest, StopRacingStartAndRestartLeavesNothingPlaying) {
    makeTone(host, "tiny.wav", 0.1);
    for (int i = 0; i < 12; ++i) {
        std::string id = "race" + std::to_string(i);
        startAudio(id, "tiny.wav");
        std::this_thread::sleep_for(std::chrono::milliseconds(i * 25));
        host.scheduleRegistry().stopRunning(id);
    }
    host.take();
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(countCmd(host.take(), "audio-frame-data"), 0u);
}

TEST_F(SchedulePlaybackTest, StopAllEndsEveryStreamAndThread) {
    makeTone(host, "tiny.wav", 0.2);
    for (int i = 0; i < 4; ++i) {
        startAudio("all" + std::to_string(i), "tiny.wav");
    }
    std::this_thread::sleep_for(500ms);
    auto begin = std::chrono::steady_clock::now();
    host.scheduleRegistry().stopAll();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
    EXPECT_TRUE(host.scheduleRegistry().runningIds().empty());
    host.take();
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(host.take().empty());
    // Nothing new starts once the registry is closing.
    EXPECT_FALSE(host.scheduleRegistry().launch([] {}));
}

}  // namespace
