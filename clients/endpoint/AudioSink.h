#pragma once
// Where played PCM goes: 44100 Hz, interleaved 16-bit stereo. Playout thread,
// except open, which the session thread calls before playback starts.

#include <cstddef>
#include <cstdint>
#include <string>

class AudioSink {
public:
    virtual ~AudioSink() = default;

    virtual bool open(std::string& error) = 0;
    // Blocks while a device that keeps its own time is full.
    virtual bool write(const int16_t* interleaved, size_t frames) = 0;
    // True when write itself keeps playback pace (a sound card).
    virtual bool pacesItself() const = 0;
    virtual std::string describe() const = 0;
};

// Plays into nothing, at playback pace; for tests and load runs.
class NullSink : public AudioSink {
public:
    bool open(std::string&) override { return true; }
    bool write(const int16_t*, size_t) override { return true; }
    bool pacesItself() const override { return false; }
    std::string describe() const override { return "no output"; }
};
