#pragma once
// Delays between reconnection attempts: start small, double after every
// failure up to a ceiling, back to the start after a success. A random part
// of up to a quarter keeps many endpoints from coming back in one wave.
// Session thread.

#include <cstdint>
#include <random>

class Backoff {
public:
    Backoff(int64_t firstMs, int64_t maxMs);

    // The delay before the next attempt; each call grows the one after.
    int64_t next();
    void reset();
    // Longest delay next() can return at the ceiling.
    int64_t ceilingMs() const { return maxMs_ + maxMs_ / 4; }

private:
    int64_t firstMs_;
    int64_t maxMs_;
    int64_t currentMs_;
    std::mt19937 random_;
};
