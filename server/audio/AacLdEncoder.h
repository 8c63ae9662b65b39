#pragma once
// Used by one thread at a time: opened and closed by the stream's owner,
// fed by the pacing thread in between.

#include <cstdint>
#include <functional>
#include <vector>

struct AACENCODER;

// libfdk-aac set up for the one stream format endpoints decode: AAC-LD
// (object type 23), 44100 Hz, 2 channels, 96000 bit/s CBR, raw access units,
// 512 sample frames per access unit.
class AacLdEncoder {
public:
    // Receives one access unit; the bytes are valid only during the call.
    using PacketSink = std::function<void(const uint8_t* data, int length)>;

    AacLdEncoder() = default;
    ~AacLdEncoder();
    AacLdEncoder(const AacLdEncoder&) = delete;
    AacLdEncoder& operator=(const AacLdEncoder&) = delete;

    // Logs the failing step and returns false when the library refuses.
    bool open();
    void close();
    bool isOpen() const { return handle_ != nullptr; }

    // Encodes frames interleaved 16-bit stereo sample frames, handing every
    // access unit that becomes ready to sink. Returns the bytes produced.
    int encode(const int16_t* samples, int frames, const PacketSink& sink);
    // Drains the access units still held for the encoder's look-ahead. Once
    // flushed the encoder takes no more input.
    int flush(const PacketSink& sink);

    // Sample frames per access unit (512).
    int frameLength() const { return frameLength_; }
    // The AudioSpecificConfig the library reports for this set-up.
    const std::vector<uint8_t>& audioSpecificConfig() const { return config_; }

private:
    // One library call: at most one access unit out. inSamples < 0 flushes.
    int encodeOnce(const int16_t* samples, int inSamples, int* consumed, const PacketSink& sink,
                   bool* finished);

    AACENCODER* handle_ = nullptr;
    std::vector<uint8_t> out_;
    std::vector<uint8_t> config_;
    int frameLength_ = 0;
    bool flushed_ = false;
};
