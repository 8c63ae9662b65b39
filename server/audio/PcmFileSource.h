#pragma once
// Used by one thread at a time: opened and closed by the stream's owner,
// read by the pacing thread in between.

#include <cstdint>
#include <string>

#include "common/MyBuffer.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

// An audio file read with FFmpeg, one packet at a time, as 44100 Hz
// interleaved 16-bit stereo PCM.
class PcmFileSource {
public:
    enum class ReadStatus {
        Appended,     // zero or more bytes were added
        EndOfStream,  // the file ended or could not be read on
        Undecodable,  // a packet of the audio stream gave no usable samples
    };

    PcmFileSource();
    ~PcmFileSource();
    PcmFileSource(const PcmFileSource&) = delete;
    PcmFileSource& operator=(const PcmFileSource&) = delete;

    // Opens the file's best audio stream and its decoder; logs and returns
    // false when any step fails.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return input_ != nullptr; }

    // Reads the next packet of the file and appends its converted samples to pcm.
    ReadStatus readNext(MyBuffer& pcm);

private:
    // Bytes of PCM appended to pcm, or -1 when the packet does not decode.
    int decodePacket(AVPacket* packet, MyBuffer& pcm);
    // Bytes appended, or -1 when the frame cannot be converted.
    int convertFrame(const AVFrame* frame, MyBuffer& pcm);
    bool prepareResampler(const AVFrame* frame);

    AVFormatContext* input_ = nullptr;
    AVCodecContext* decoder_ = nullptr;
    SwrContext* resampler_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int streamIndex_ = -1;
    // What the resampler was set up for: channel count, sample format, rate.
    int resamplerChannels_ = 0;
    int resamplerFormat_ = -1;
    int resamplerRate_ = 0;
    // Output area of the conversion, reused for every frame.
    MyBuffer scratch_;
};
