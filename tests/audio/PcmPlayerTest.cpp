#include "server/audio/PcmPlayer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/audio/FakeClock.h"

namespace {

constexpr int64_t kMs = 1000000;

// Block k is due k * 4096 / 44100 s after the first, worked out here apart
// from the player's own arithmetic.
int64_t due(int64_t k) {
    return static_cast<int64_t>(static_cast<__int128>(k) * 4096 * 1000000000 / 44100);
}

// Pull callback that notes the clock's time of every pull and can run a hook.
struct Puller {
    PacingClock* clock;
    std::function<void(size_t index)> hook;
    std::mutex mutex;
    std::vector<int64_t> times;
    std::vector<int> lengths;

    static int pull(uint8_t*, int length, void* user) {
        auto* self = static_cast<Puller*>(user);
        size_t index;
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            index = self->times.size();
            self->times.push_back(self->clock->now());
            self->lengths.push_back(length);
        }
        if (self->hook) {
            self->hook(index);
        }
        return 0;
    }

    std::vector<int64_t> pullTimes() {
        std::lock_guard<std::mutex> lock(mutex);
        return times;
    }
};

}  // namespace

TEST(PcmPlayerSchedule, BlocksFollowTheAbsoluteGridWithoutDrift) {
    // About 3 minutes of stream: a per-block rounding would have drifted by now.
    const size_t sleeps = 2000;
    FakeClock clock(sleeps);
    Puller puller{&clock, {}, {}, {}, {}};
    PcmPlayer player(clock);
    player.init(&Puller::pull, &puller);
    player.start();
    ASSERT_TRUE(clock.waitHeld());
    EXPECT_TRUE(player.stop());

    std::vector<int64_t> times = puller.pullTimes();
    std::vector<int64_t> deadlines = clock.deadlines();
    // The first block at once, then one per sleep.
    ASSERT_EQ(sleeps + 1, times.size());
    ASSERT_EQ(sleeps, deadlines.size());
    EXPECT_EQ(FakeClock::kStart, times[0]);
    for (size_t k = 1; k <= sleeps; ++k) {
        ASSERT_EQ(FakeClock::kStart + due(static_cast<int64_t>(k)), deadlines[k - 1]) << k;
        ASSERT_EQ(deadlines[k - 1], times[k]) << k;
    }
    EXPECT_EQ((sleeps + 1) * 4096, player.framesDelivered());
    std::lock_guard<std::mutex> lock(puller.mutex);
    for (int length : puller.lengths) {
        ASSERT_EQ(16384, length);
    }
}

TEST(PcmPlayerSchedule, LateBlockIsFollowedByCatchUpOnTheSameGrid) {
    FakeClock clock(6);
    Puller puller{&clock, {}, {}, {}, {}};
    // Block 3 takes 350 ms, almost four block times.
    puller.hook = [&](size_t index) {
        if (index == 3) {
            clock.advance(350 * kMs);
        }
    };
    PcmPlayer player(clock);
    player.init(&Puller::pull, &puller);
    player.start();
    ASSERT_TRUE(clock.waitHeld());
    player.stop();

    std::vector<int64_t> times = puller.pullTimes();
    ASSERT_EQ(10u, times.size());
    const int64_t t0 = FakeClock::kStart;
    const int64_t lateEnd = t0 + due(3) + 350 * kMs;
    // Blocks 4 to 6 were due before block 3 ended: pulled back to back, at once.
    for (int k = 4; k <= 6; ++k) {
        EXPECT_EQ(lateEnd, times[k]) << k;
    }
    // Then the pace returns to the original grid: no sleep-for-a-block drift.
    std::vector<int64_t> expected = {t0 + due(1), t0 + due(2), t0 + due(3),
                                     t0 + due(7), t0 + due(8), t0 + due(9)};
    EXPECT_EQ(expected, clock.deadlines());
    for (int k = 7; k <= 9; ++k) {
        EXPECT_EQ(t0 + due(k), times[k]) << k;
    }
}

TEST(PcmPlayerLifecycle, StartAndStopAreSafeInAnyOrder) {
    FakeClock clock(0);
    Puller puller{&clock, {}, {}, {}, {}};
    PcmPlayer player(clock);
    EXPECT_TRUE(player.stop());  // never started
    player.start();              // no pull callback yet: nothing starts
    EXPECT_FALSE(player.running());

    testing::internal::CaptureStdout();
    player.init(&Puller::pull, &puller);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, log.find("pcm player inited falied, use fake proc\n")) << log;

    player.start();
    player.start();  // already running: no second thread, so one first block
    ASSERT_TRUE(clock.waitHeld());
    EXPECT_TRUE(player.stop());
    EXPECT_TRUE(player.stop());
    EXPECT_FALSE(player.running());
    EXPECT_EQ(1u, puller.pullTimes().size());

    // A new start begins a new schedule from a fresh first block.
    player.start();
    EXPECT_TRUE(player.running());
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (puller.pullTimes().size() < 2 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    player.stop();
    EXPECT_EQ(2u, puller.pullTimes().size());
    EXPECT_EQ(4096u, player.framesDelivered());
}

TEST(PcmPlayerLifecycle, StopOnThePacingThreadIsRefusedAndEndsAfterTheBlock) {
    FakeClock clock;  // never holds: without a stop the player would run on
    Puller puller{&clock, {}, {}, {}, {}};
    PcmPlayer player(clock);
    std::promise<bool> stopResult;
    puller.hook = [&](size_t index) {
        if (index == 0) {
            stopResult.set_value(player.stop());
        }
    };
    player.init(&Puller::pull, &puller);
    testing::internal::CaptureStdout();
    player.start();
    std::future<bool> refused = stopResult.get_future();
    ASSERT_EQ(std::future_status::ready, refused.wait_for(std::chrono::seconds(30)));
    EXPECT_FALSE(refused.get());
    EXPECT_TRUE(player.stop());
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, log.find("pcm player stop called on its own thread")) << log;
    EXPECT_EQ(1u, puller.pullTimes().size());
}

TEST(MonotonicClockTest, SleepsToTheDeadlineAndEndsEarlyOnStop) {
    MonotonicClock& clock = monotonicClock();
    std::atomic<bool> stop{false};
    const int64_t deadline = clock.now() + 20 * kMs;
    EXPECT_TRUE(clock.sleepUntil(deadline, stop));
    EXPECT_GE(clock.now(), deadline);

    // A far deadline: the sleep must notice the stop, not wait a minute.
    auto sleeper = std::async(std::launch::async,
                              [&] { return clock.sleepUntil(clock.now() + 60000 * kMs, stop); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop.store(true);
    ASSERT_EQ(std::future_status::ready, sleeper.wait_for(std::chrono::seconds(10)));
    EXPECT_FALSE(sleeper.get());
}

TEST(PcmPlayerRealTime, TwoSecondsGiveAboutTwentyTwoBlocksOnTime) {
    MonotonicClock& clock = monotonicClock();
    Puller puller{&clock, {}, {}, {}, {}};
    PcmPlayer player;
    player.init(&Puller::pull, &puller);
    const int64_t started = clock.now();
    player.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    player.stop();
    const int64_t stopped = clock.now();

    std::vector<int64_t> times = puller.pullTimes();
    // Blocks 0 to 21 are due within two seconds; 22 at 2.043 s.
    EXPECT_GE(times.size(), 21u);
    EXPECT_LE(times.size(), 23u);
    ASSERT_FALSE(times.empty());
    EXPECT_LT(times[0] - started, 50 * kMs);  // the first block at once
    int64_t worst = 0;
    for (size_t k = 1; k < times.size(); ++k) {
        int64_t lateness = times[k] - times[0] - due(static_cast<int64_t>(k));
        EXPECT_GE(lateness, -1 * kMs) << "block " << k << " came early";
        worst = std::max(worst, lateness);
    }
    // Absolute deadlines: the last block is no later than any other.
    EXPECT_LT(worst, 50 * kMs);
    EXPECT_LT(stopped - started, 3000 * kMs);
}
