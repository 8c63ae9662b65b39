#include "server/audio/PacingClock.h"

#include <ctime>

#include <algorithm>

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;
// A stop is noticed within this span; the sleep itself still ends exactly
// at its deadline.
constexpr int64_t kStopPollNanos = 10 * 1000000;

}  // namespace

int64_t MonotonicClock::now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * kNanosPerSecond + ts.tv_nsec;
}

bool MonotonicClock::sleepUntil(int64_t deadline, const std::atomic<bool>& stop) {
    while (!stop.load(std::memory_order_acquire)) {
        int64_t current = now();
        if (current >= deadline) {
            return true;
        }
        int64_t until = std::min(deadline, current + kStopPollNanos);
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(until / kNanosPerSecond);
        ts.tv_nsec = static_cast<long>(until % kNanosPerSecond);
        // EINTR only shortens this slice; the loop sleeps on to the deadline.
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
    }
    return false;
}

MonotonicClock& monotonicClock() {
    static MonotonicClock clock;
    return clock;
}
