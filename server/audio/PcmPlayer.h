#pragma once
// init, start and stop on the thread that opens or closes the stream; the
// pull callback runs on the player's own pacing thread.

#include <atomic>
#include <cstdint>
#include <thread>

#include "server/audio/PacingClock.h"

// Fills or consumes one block of length bytes; user is the player's owner.
using PcmPullFn = int (*)(uint8_t* block, int length, void* user);

// The clock of a stream: pulls one PCM block whenever the next one is due.
// There is no sound card clock on this platform, so it always paces with a
// timer against absolute deadlines: block k is due at t0 + k * 4096 / 44100 s.
class PcmPlayer {
public:
    static constexpr int kBlockBytes = 16384;
    static constexpr int kBytesPerFrame = 4;
    static constexpr int kSampleRate = 44100;

    explicit PcmPlayer(PacingClock& clock = monotonicClock());
    ~PcmPlayer();
    PcmPlayer(const PcmPlayer&) = delete;
    PcmPlayer& operator=(const PcmPlayer&) = delete;

    // Always succeeds; logs that it runs on the timer.
    void init(PcmPullFn pull, void* user);
    // Starts the pacing thread; no effect while one runs or before init.
    void start();
    // Ends the pacing thread and waits for it; safe if it never started.
    // Called on the pacing thread itself it only asks the thread to end after
    // the current block and returns false, since waiting there would never end.
    bool stop();

    bool running() const { return thread_.joinable(); }
    // Sample frames handed to the pull callback since the thread started.
    uint64_t framesDelivered() const { return framesDelivered_.load(std::memory_order_relaxed); }

    // Nanoseconds from t0 at which the block starting at frame is due;
    // exact integer arithmetic, so late blocks never shift the grid.
    static int64_t dueOffset(uint64_t frame);

private:
    void timerClock();

    PacingClock& clock_;
    PcmPullFn pull_ = nullptr;
    void* user_ = nullptr;
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> framesDelivered_{0};
    std::atomic<std::thread::id> pacingThread_{};
    std::thread thread_;
};
