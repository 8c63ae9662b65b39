#include "server/audio/PcmPlayer.h"

#include <vector>

#include "common/Logger.h"

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;

}  // namespace

PcmPlayer::PcmPlayer(PacingClock& clock) : clock_(clock) {}

PcmPlayer::~PcmPlayer() {
    stop();
}

void PcmPlayer::init(PcmPullFn pull, void* user) {
    // No sound device is used on this platform: the timer is the clock.
    gLogger().logout("pcm player inited falied, use fake proc");
    pull_ = pull;
    user_ = user;
}

void PcmPlayer::start() {
    if (thread_.joinable() || pull_ == nullptr) {
        return;
    }
    stopping_.store(false, std::memory_order_release);
    framesDelivered_.store(0, std::memory_order_relaxed);
    thread_ = std::thread(&PcmPlayer::timerClock, this);
}

bool PcmPlayer::stop() {
    stopping_.store(true, std::memory_order_release);
    if (pacingThread_.load() == std::this_thread::get_id()) {
        gLogger().logout("pcm player stop called on its own thread, not waited for");
        return false;
    }
    clock_.wake();
    if (thread_.joinable()) {
        thread_.join();
    }
    pacingThread_.store(std::thread::id());
    return true;
}

int64_t PcmPlayer::dueOffset(uint64_t frame) {
    // Whole seconds and the remainder apart, so the product never overflows.
    uint64_t seconds = frame / kSampleRate;
    uint64_t rest = frame % kSampleRate;
    return static_cast<int64_t>(seconds) * kNanosPerSecond +
           static_cast<int64_t>(rest * kNanosPerSecond / kSampleRate);
}

void PcmPlayer::timerClock() {
    pacingThread_.store(std::this_thread::get_id());
    std::vector<uint8_t> block(kBlockBytes, 0);
    const int64_t t0 = clock_.now();
    uint64_t frames = 0;
    while (!stopping_.load(std::memory_order_acquire)) {
        int64_t deadline = t0 + dueOffset(frames);
        // A late block is pulled at once; the blocks after it catch up.
        if (clock_.now() < deadline && !clock_.sleepUntil(deadline, stopping_)) {
            break;
        }
        if (stopping_.load(std::memory_order_acquire)) {
            break;
        }
        pull_(block.data(), kBlockBytes, user_);
        frames += kBlockBytes / kBytesPerFrame;
        framesDelivered_.store(frames, std::memory_order_relaxed);
    }
}
