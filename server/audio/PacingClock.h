#pragma once
// The time source of the playback clock. Called on the pacing thread, except
// wake(), which the stopping thread calls.

#include <atomic>
#include <cstdint>

class PacingClock {
public:
    virtual ~PacingClock() = default;

    // Nanoseconds on a monotonic scale; only differences mean anything.
    virtual int64_t now() = 0;
    // Sleeps until the absolute time deadline. Returns false, possibly early,
    // once stop is set.
    virtual bool sleepUntil(int64_t deadline, const std::atomic<bool>& stop) = 0;
    // Called right after stop is set, for clocks that can end a sleep at once.
    virtual void wake() {}
};

// CLOCK_MONOTONIC with absolute sleeps, so the pace never drifts. Stateless:
// one instance serves every player.
class MonotonicClock : public PacingClock {
public:
    int64_t now() override;
    bool sleepUntil(int64_t deadline, const std::atomic<bool>& stop) override;
};

MonotonicClock& monotonicClock();
