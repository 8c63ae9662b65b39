#pragma once
// The stream's fixed format (AAC-LD, AudioSpecificConfig BA 11 00, 44100 Hz
// stereo, 512 samples an access unit) decoded with FFmpeg's own AAC decoder
// into interleaved 16-bit stereo. Session thread.

#include <cstdint>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

class AacDecoder {
public:
    AacDecoder() = default;
    ~AacDecoder();
    AacDecoder(const AacDecoder&) = delete;
    AacDecoder& operator=(const AacDecoder&) = delete;

    bool open(std::string& error);
    // Appends the decoded frames of one access unit to out; false when the
    // unit is damaged (nothing appended; the next unit decodes normally).
    bool decode(const uint8_t* unit, size_t length, std::vector<int16_t>& out);
    // Forgets the previous stream, so a new one starts clean.
    void reset();

private:
    void close();

    AVCodecContext* ctx_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
};
