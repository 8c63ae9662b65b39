#include "clients/endpoint/AudioPlayer.h"

#include <time.h>

#include <vector>

#include "common/Logger.h"

namespace {

constexpr int kRate = 44100;
// About 23 ms a period: short enough to follow the bursts of the stream,
// long enough to keep the playout thread quiet.
constexpr size_t kPeriodFrames = 1024;
// Ten seconds of audio at most; a stream that runs ahead loses its oldest part.
constexpr size_t kCapacityFrames = 10 * kRate;

int64_t nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

void sleepUntilNs(int64_t deadline) {
    timespec ts{static_cast<time_t>(deadline / 1000000000),
                static_cast<long>(deadline % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
    }
}

int64_t framesToNs(uint64_t frames) {
    return static_cast<int64_t>(frames * 1000000000ull / kRate);
}

}  // namespace

AudioPlayer::AudioPlayer(std::unique_ptr<AudioSink> sink, int prebufferMs)
    : sink_(std::move(sink)),
      buffer_(static_cast<size_t>(prebufferMs) * kRate / 1000, kCapacityFrames) {}

AudioPlayer::~AudioPlayer() {
    stop_ = true;
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool AudioPlayer::start(std::string& error) {
    if (!sink_->open(error)) {
        return false;
    }
    thread_ = std::thread(&AudioPlayer::playout, this);
    return true;
}

void AudioPlayer::begin() {
    buffer_.reset();
    active_ = true;
    wake_.notify_all();
}

void AudioPlayer::push(const int16_t* interleaved, size_t frames) {
    if (!active_) {
        return;
    }
    if (const size_t dropped = buffer_.push(interleaved, frames)) {
        gLogger().logout("audio buffer full: %zu old frames dropped", dropped);
    }
}

void AudioPlayer::end() {
    active_ = false;
    buffer_.reset();
}

void AudioPlayer::playout() {
    std::vector<int16_t> period(kPeriodFrames * 2);
    bool playing = false;
    int64_t startNs = 0;
    uint64_t played = 0;
    while (!stop_) {
        if (!active_) {
            playing = false;
            std::unique_lock<std::mutex> lock(wakeMutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(50),
                           [this] { return active_ || stop_; });
            continue;
        }
        if (!playing) {
            // Look again for a full prebuffer about twice a period.
            sleepUntilNs(nowNs() + framesToNs(kPeriodFrames) / 2);
        } else if (!sink_->pacesItself()) {
            sleepUntilNs(startNs + framesToNs(played));
        }
        switch (buffer_.pull(period.data(), kPeriodFrames)) {
            case JitterBuffer::Pull::Played:
                if (!playing) {
                    playing = true;
                    startNs = nowNs();
                    played = 0;
                }
                if (!sink_->write(period.data(), kPeriodFrames)) {
                    gLogger().logout("audio output failed: %s", sink_->describe().c_str());
                }
                played += kPeriodFrames;
                break;
            case JitterBuffer::Pull::Underrun:
                gLogger().logout("audio underrun (%llu so far): buffering again",
                                 static_cast<unsigned long long>(buffer_.underruns()));
                playing = false;
                break;
            case JitterBuffer::Pull::Waiting:
                break;
        }
    }
}
