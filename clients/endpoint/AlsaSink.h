#pragma once
// Plays through ALSA's "default" device with about 100 ms of device buffer;
// write blocks while the device is full, so the card keeps the pace. Playout
// thread after open.

#include <string>

#include "clients/endpoint/AudioSink.h"

typedef struct _snd_pcm snd_pcm_t;

class AlsaSink : public AudioSink {
public:
    explicit AlsaSink(std::string device) : device_(std::move(device)) {}
    ~AlsaSink() override;

    bool open(std::string& error) override;
    bool write(const int16_t* interleaved, size_t frames) override;
    bool pacesItself() const override { return true; }
    std::string describe() const override { return "ALSA device " + device_; }

private:
    std::string device_;
    snd_pcm_t* pcm_ = nullptr;
};
