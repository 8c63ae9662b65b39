#include "server/audio/AudioServer.h"

#include <cstring>

#include "common/Logger.h"

AudioServer::AudioServer(AudioEventFn eventCallback, void* user, PacingClock& clock)
    : eventCallback_(eventCallback), user_(user), player_(clock) {}

AudioServer::~AudioServer() {
    close();
}

bool AudioServer::open(const std::string& path, Pacing pacing) {
    if (source_.isOpen()) {
        gLogger().logout("audio stream already open");
        return false;
    }
    if (!source_.open(path)) {
        return false;
    }
    if (!encoder_.open()) {
        source_.close();
        return false;
    }
    endOfStream_ = false;
    if (pacing == Pacing::Player) {
        player_.init(&AudioServer::pullThunk, this);
        player_.start();
    }
    return true;
}

void AudioServer::close() {
    // Refused on the pacing thread; the decoder and encoder stay until a
    // close from another thread has waited for it.
    if (!player_.stop()) {
        return;
    }
    pcm_.resetBuffer();
    source_.close();
    encoder_.close();
}

int AudioServer::pullThunk(uint8_t* block, int length, void* self) {
    return static_cast<AudioServer*>(self)->pullPcm(block, length);
}

int AudioServer::pullPcm(uint8_t* block, int length) {
    if (!source_.isOpen() || length <= 0) {
        return 0;
    }
    const size_t want = static_cast<size_t>(length);
    size_t n = 0;
    if (!endOfStream_) {
        n = pcm_.takeData(block, want);
    }
    // Packets are read only while the block is short, so pcm_ never holds
    // more than the rest of one packet.
    while (n < want && !endOfStream_) {
        PcmFileSource::ReadStatus status = source_.readNext(pcm_);
        if (status == PcmFileSource::ReadStatus::EndOfStream) {
            endOfStream_ = true;
        } else if (status == PcmFileSource::ReadStatus::Undecodable) {
            // The block goes out with silence in place of the bad packet.
            break;
        } else {
            n += pcm_.takeData(block + n, want - n);
        }
    }
    std::memset(block + n, 0, want - n);
    if (!endOfStream_) {
        return encodePcm(block, length);
    }
    // The block in which the file ended is not sent.
    int flushed = encodePcm(block, 0);
    raise(AudioEvent::EndOfFile, nullptr, 0);
    return flushed;
}

int AudioServer::encodePcm(const uint8_t* block, int length) {
    auto sink = [this](const uint8_t* data, int size) { raise(AudioEvent::Packet, data, size); };
    if (length == 0) {
        return encoder_.flush(sink);
    }
    const int frames = length / PcmPlayer::kBytesPerFrame;
    const int frameSize = encoder_.frameLength();
    if (frameSize <= 0 || frames < frameSize) {
        return 0;
    }
    // Only whole encoder frames; a remainder would be dropped.
    const int whole = frames / frameSize * frameSize;
    return encoder_.encode(reinterpret_cast<const int16_t*>(block), whole, sink);
}

void AudioServer::raise(AudioEvent event, const uint8_t* data, int length) {
    if (eventCallback_ != nullptr) {
        eventCallback_(event, data, length, user_);
    }
}
