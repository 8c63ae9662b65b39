#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "server/schedule/ScheduleRules.h"
#include "server/schedule/ScheduleRunner.h"
#include "tests/schedule/FakeScheduleHost.h"

namespace {

const char* kToAB = R"({"policy":"to-target","dst":["A","B"]})";
const int64_t kEight = 8 * 3600;
const int64_t kHalfPast11 = 23 * 3600 + 30 * 60;

std::vector<SentFrame> withCmd(const std::vector<SentFrame>& frames, const std::string& cmd) {
    std::vector<SentFrame> out;
    std::copy_if(frames.begin(), frames.end(), std::back_inserter(out),
                 [&](const SentFrame& f) { return f.cmd == cmd; });
    return out;
}

class ScheduleRunnerTest : public testing::Test {
protected:
    ScheduleRunnerTest() : runner(host, clock) { host.setManagers({"M1", "M2"}); }

    FakeScheduleHost host;
    FakeClock clock;
    ScheduleRunner runner;
};

TEST_F(ScheduleRunnerTest, StartsWhenDueAndEndsAfterTheWindow) {
    host.addRow("s1", "notice", "{\"text\":\"hi\"}\n", 2, "2026-12-7 7:0:0", "8:0:0", 600,
                kStateReady, kToAB);

    clock.setMonday(kEight - 1);
    runner.runPass();
    EXPECT_TRUE(host.take().empty());
    EXPECT_EQ(host.stateOf("s1"), kStateReady);

    clock.setMonday(kEight);
    runner.runPass();
    auto frames = host.take();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].cmd, "do-schedule");
    EXPECT_TRUE(frames[0].queued);
    EXPECT_EQ(frames[0].target.policy, TargetPolicy::ToTarget);
    EXPECT_EQ(frames[0].target.dst, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(frames[0].target.src, "");
    EXPECT_EQ(frames[0].msg["type"].asString(), "notice");
    EXPECT_EQ(frames[0].msg["content"].asString(), "{\"text\":\"hi\"}\n");
    EXPECT_EQ(frames[0].msg["duration"].asInt64(), 600);
    EXPECT_EQ(frames[0].msg["id"].asString(), "s1");
    for (int i = 1; i <= 2; ++i) {
        EXPECT_FALSE(frames[i].queued);
        EXPECT_EQ(frames[i].connectionId, i == 1 ? "M1" : "M2");
        EXPECT_EQ(frames[i].cmd, "update-schedule-state");
        EXPECT_EQ(frames[i].msg["state"].asString(), kStateRunning);
    }
    EXPECT_EQ(host.stateOf("s1"), kStateRunning);
    EXPECT_EQ(host.scheduleRegistry().runningIds(), (std::vector<std::string>{"s1"}));

    // Running rows are not started twice, and 8:10:00 is not yet past the window.
    for (int64_t t : {kEight + 1, kEight + 600}) {
        clock.setMonday(t);
        runner.runPass();
        EXPECT_TRUE(host.take().empty()) << t;
    }

    clock.setMonday(kEight + 601);
    runner.runPass();
    frames = host.take();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].cmd, "stop-schedule");
    EXPECT_EQ(frames[0].target.dst, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(frames[0].msg["id"].asString(), "s1");
    EXPECT_EQ(frames[1].cmd, "update-schedule-state");
    EXPECT_EQ(frames[1].target.policy, TargetPolicy::ToTarget);
    EXPECT_EQ(frames[1].target.src, "00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(frames[1].target.dst, (std::vector<std::string>{"M1", "M2"}));
    EXPECT_EQ(frames[1].msg["state"].asString(), kStateCompleted);
    EXPECT_EQ(host.stateOf("s1"), kStateCompleted);
    EXPECT_TRUE(host.scheduleRegistry().runningIds().empty());
}

TEST_F(ScheduleRunnerTest, WindowAcrossMidnightEndsOnTimeAndConsumesItsOwnDay) {
    // Monday only, and Monday plus Tuesday.
    host.addRow("mon", "notice", "1\n", 2, "2026-12-7 7:0:0", "23:30:0", 3600, kStateReady, kToAB);
    host.addRow("montue", "notice", "1\n", 6, "2026-12-7 7:0:0", "23:30:0", 3600, kStateReady,
                kToAB);
    clock.setMonday(kHalfPast11);
    runner.runPass();
    EXPECT_EQ(host.stateOf("mon"), kStateRunning);
    EXPECT_EQ(host.stateOf("montue"), kStateRunning);

    clock.setTuesday(1800);
    runner.runPass();
    EXPECT_EQ(host.stateOf("mon"), kStateRunning);

    clock.setTuesday(1801);
    runner.runPass();
    EXPECT_EQ(host.stateOf("mon"), kStateCompleted);
    EXPECT_EQ(host.stateOf("montue"), kStateReady);
    EXPECT_EQ(host.repeatOf("montue"), 4);
    EXPECT_EQ(withCmd(host.take(), "stop-schedule").size(), 2u);
    EXPECT_TRUE(host.scheduleRegistry().runningIds().empty());
}

TEST_F(ScheduleRunnerTest, WeeklyAndMultiDayRowsReturnToReady) {
    struct Case {
        const char* id;
        int repeat;
        const char* state;
        int newRepeat;
    };
    const Case cases[] = {{"weekly", 3, kStateReady, 3},
                          {"two-days", 6, kStateReady, 4},
                          {"once", 2, kStateCompleted, 2}};
    for (const auto& c : cases) {
        host.addRow(c.id, "x", "1\n", c.repeat, "2026-12-7 7:0:0", "8:0:0", 60, kStateReady, "");
    }
    clock.setMonday(kEight + 30);
    runner.runPass();
    clock.setMonday(kEight + 61);
    runner.runPass();
    for (const auto& c : cases) {
        EXPECT_EQ(host.stateOf(c.id), c.state) << c.id;
        EXPECT_EQ(host.repeatOf(c.id), c.newRepeat) << c.id;
    }
}

TEST_F(ScheduleRunnerTest, CompletedRowsArePurgedAfterSevenDays) {
    host.addRow("old", "x", "1\n", 2, "2026-12-1 8:0:0", "8:0:0", 60, kStateCompleted, "");
    int64_t created = parseDateTime("2026-12-1 8:0:0");

    clock.setEpoch(created + ScheduleRunner::kPurgeAge);
    runner.runPass();
    EXPECT_EQ(host.stateOf("old"), kStateCompleted);
    EXPECT_TRUE(host.take().empty());

    clock.setEpoch(created + ScheduleRunner::kPurgeAge + 1);
    runner.runPass();
    EXPECT_EQ(host.stateOf("old"), "");
    auto frames = host.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].cmd, "response-delete-schedule");
    EXPECT_EQ(frames[0].msg["id"].asString(), "old");
    EXPECT_EQ(frames[0].target.dst, (std::vector<std::string>{"M1", "M2"}));
}

TEST_F(ScheduleRunnerTest, StoppedScheduleWaitsOutItsDurationBeforeRestart) {
    host.addRow("w", "x", "1\n", 3, "2026-12-7 7:0:0", "8:0:0", 600, kStateReady, "");
    clock.setMonday(kEight + 10);
    int64_t stopT = epochOf(clock.now());
    host.scheduleRegistry().recordStop("w", stopT, 600);

    runner.runPass();
    EXPECT_EQ(host.stateOf("w"), kStateReady);
    EXPECT_EQ(host.scheduleRegistry().stoppedCount(), 1u);

    // 600 s after the stop the record stays; one second later it expires.
    clock.setMonday(kEight + 610);
    runner.runPass();
    EXPECT_EQ(host.scheduleRegistry().stoppedCount(), 1u);
    clock.setMonday(kEight + 611);
    runner.runPass();
    EXPECT_EQ(host.scheduleRegistry().stoppedCount(), 0u);
    EXPECT_EQ(host.stateOf("w"), kStateReady);
    EXPECT_TRUE(host.take().empty());
}

TEST_F(ScheduleRunnerTest, LeftoverRunningRowIsNotResumedButEnded) {
    host.addRow("left", "audio", "{\"file\":\"a.mp3\"}\n", 2, "2026-12-7 7:0:0", "8:0:0", 600,
                kStateRunning, "");
    clock.setMonday(kEight + 100);
    runner.runPass();
    EXPECT_TRUE(host.take().empty());
    EXPECT_TRUE(host.scheduleRegistry().runningIds().empty());
    clock.setMonday(kEight + 601);
    runner.runPass();
    EXPECT_EQ(host.stateOf("left"), kStateCompleted);
}

TEST_F(ScheduleRunnerTest, ThreadRunsPassesAndStopsPromptly) {
    host.addRow("t", "x", "1\n", 2, "2026-12-7 7:0:0", "8:0:0", 600, kStateReady, "");
    clock.setMonday(kEight);
    ScheduleRunner fast(host, clock, std::chrono::milliseconds(10000));
    fast.start();
    ASSERT_TRUE(host.waitFor("do-schedule", 5000));
    auto begin = std::chrono::steady_clock::now();
    fast.stop();
    // The stop wakes the thread out of its long sleep.
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
    EXPECT_EQ(host.stateOf("t"), kStateRunning);
}

}  // namespace
