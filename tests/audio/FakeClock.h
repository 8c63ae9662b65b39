#pragma once
// A pacing clock whose time moves only when the player sleeps or a test
// advances it, so a test sees the whole schedule of pulls at once. After
// holdAfter sleeps it holds the player until the player is stopped.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

#include "server/audio/PacingClock.h"

class FakeClock : public PacingClock {
public:
    static constexpr int64_t kStart = 5000000000;

    explicit FakeClock(size_t holdAfter = std::numeric_limits<size_t>::max())
        : holdAfter_(holdAfter) {}

    int64_t now() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return now_;
    }

    bool sleepUntil(int64_t deadline, const std::atomic<bool>& stop) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (deadlines_.size() >= holdAfter_) {
            held_ = true;
            changed_.notify_all();
            changed_.wait(lock, [&] { return stop.load(); });
            return false;
        }
        deadlines_.push_back(deadline);
        now_ = std::max(now_, deadline);
        return true;
    }

    void wake() override {
        std::lock_guard<std::mutex> lock(mutex_);
        changed_.notify_all();
    }

    void advance(int64_t nanos) {
        std::lock_guard<std::mutex> lock(mutex_);
        now_ += nanos;
    }

    // True once the player waits in its held sleep.
    bool waitHeld(std::chrono::seconds limit = std::chrono::seconds(30)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return held_; });
    }

    std::vector<int64_t> deadlines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return deadlines_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int64_t now_ = kStart;
    size_t holdAfter_;
    bool held_ = false;
    std::vector<int64_t> deadlines_;
};
