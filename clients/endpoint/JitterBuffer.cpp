#include "clients/endpoint/JitterBuffer.h"

#include <algorithm>

JitterBuffer::JitterBuffer(size_t prebufferFrames, size_t capacityFrames)
    : prebufferFrames_(std::max<size_t>(1, prebufferFrames)),
      capacityFrames_(std::max(capacityFrames, prebufferFrames_)) {}

size_t JitterBuffer::push(const int16_t* interleaved, size_t frames) {
    std::lock_guard<std::mutex> lock(mutex_);
    samples_.insert(samples_.end(), interleaved, interleaved + frames * 2);
    const size_t held = samples_.size() / 2;
    if (held <= capacityFrames_) {
        return 0;
    }
    const size_t dropped = held - capacityFrames_;
    samples_.erase(samples_.begin(), samples_.begin() + static_cast<ptrdiff_t>(dropped * 2));
    return dropped;
}

JitterBuffer::Pull JitterBuffer::pull(int16_t* out, size_t frames) {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t held = samples_.size() / 2;
    if (!playing_) {
        if (held < std::max(prebufferFrames_, frames)) {
            return Pull::Waiting;
        }
        playing_ = true;
    } else if (held < frames) {
        playing_ = false;
        ++underruns_;
        return Pull::Underrun;
    }
    const auto end = samples_.begin() + static_cast<ptrdiff_t>(frames * 2);
    std::copy(samples_.begin(), end, out);
    samples_.erase(samples_.begin(), end);
    return Pull::Played;
}

void JitterBuffer::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    samples_.clear();
    playing_ = false;
}

size_t JitterBuffer::bufferedFrames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return samples_.size() / 2;
}

uint64_t JitterBuffer::underruns() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return underruns_;
}
