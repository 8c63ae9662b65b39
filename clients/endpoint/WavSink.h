#pragma once
// Writes what is played into a WAV file (PCM 16-bit, stereo, 44100 Hz). The
// header's sizes are brought up to date after every write, so the file is
// valid even if the process is killed. Playout thread after open.

#include <cstdio>
#include <string>

#include "clients/endpoint/AudioSink.h"

class WavSink : public AudioSink {
public:
    explicit WavSink(std::string path) : path_(std::move(path)) {}
    ~WavSink() override;

    bool open(std::string& error) override;
    bool write(const int16_t* interleaved, size_t frames) override;
    bool pacesItself() const override { return false; }
    std::string describe() const override { return "WAV file " + path_; }

private:
    bool writeHeader();

    std::string path_;
    FILE* file_ = nullptr;
    uint64_t dataBytes_ = 0;
};
