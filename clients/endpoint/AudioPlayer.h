#pragma once
// Plays the jitter buffer into a sink: a playout thread takes one period at a
// time, paced by the sink when it keeps its own time, else against absolute
// deadlines on the monotonic clock. begin, push and end come from the session
// thread; the playout thread lives inside.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "clients/endpoint/AudioSink.h"
#include "clients/endpoint/JitterBuffer.h"

class AudioPlayer {
public:
    AudioPlayer(std::unique_ptr<AudioSink> sink, int prebufferMs);
    ~AudioPlayer();
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;

    // Opens the sink and starts the playout thread.
    bool start(std::string& error);
    // A new stream: what is buffered is dropped and the prebuffer fills again.
    void begin();
    void push(const int16_t* interleaved, size_t frames);
    // The stream ended: buffered audio is dropped and playing stops.
    void end();

    uint64_t underruns() const { return buffer_.underruns(); }
    const AudioSink& sink() const { return *sink_; }

private:
    void playout();

    std::unique_ptr<AudioSink> sink_;
    JitterBuffer buffer_;
    std::atomic<bool> active_{false};
    std::atomic<bool> stop_{false};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    std::thread thread_;
};
