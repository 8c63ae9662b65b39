#pragma once
// Decoded PCM between the session thread, which pushes what arrives, and the
// playout thread, which takes it at playback pace. Playback starts only when
// the prebuffer is full and starts over from buffering after an underrun.
// Any thread.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

class JitterBuffer {
public:
    enum class Pull {
        Played,    // out holds the frames asked for
        Waiting,   // still filling the prebuffer; nothing taken
        Underrun,  // playing, and too little had arrived: back to buffering
    };

    // Sizes in stereo sample frames. Beyond capacity the oldest frames go.
    JitterBuffer(size_t prebufferFrames, size_t capacityFrames);

    // Appends interleaved stereo frames; returns how many old frames were dropped.
    size_t push(const int16_t* interleaved, size_t frames);
    Pull pull(int16_t* out, size_t frames);
    // Empties the buffer and waits for a full prebuffer again.
    void reset();

    size_t bufferedFrames() const;
    uint64_t underruns() const;

private:
    mutable std::mutex mutex_;
    std::deque<int16_t> samples_;
    size_t prebufferFrames_;
    size_t capacityFrames_;
    bool playing_ = false;
    uint64_t underruns_ = 0;
};
