#include "server/audio/AacLdEncoder.h"

#include <fdk-aac/aacenc_lib.h>

#include <algorithm>

#include "common/Logger.h"

namespace {

constexpr int kChannels = 2;
// 6144 bits per channel is the largest access unit the format allows.
constexpr size_t kMaxAccessUnitBytes = 6144 / 8 * kChannels;

struct Param {
    AACENC_PARAM param;
    UINT value;
    const char* name;
};

constexpr Param kParams[] = {
    {AACENC_AOT, 23, "aot"},
    {AACENC_SAMPLERATE, 44100, "samplerate"},
    {AACENC_CHANNELMODE, MODE_2, "channelmode"},
    {AACENC_CHANNELORDER, 1, "channelorder"},
    {AACENC_BITRATEMODE, 0, "bitratemode"},
    {AACENC_BITRATE, 96000, "bitrate"},
    {AACENC_TRANSMUX, TT_MP4_RAW, "transmux"},
    {AACENC_GRANULE_LENGTH, 512, "granule"},
    {AACENC_AFTERBURNER, 1, "afterburner"},
};

}  // namespace

AacLdEncoder::~AacLdEncoder() {
    close();
}

bool AacLdEncoder::open() {
    if (handle_ != nullptr) {
        return true;
    }
    AACENC_ERROR err = aacEncOpen(&handle_, 0, kChannels);
    if (err != AACENC_OK) {
        gLogger().logout("aacEncOpen failed: 0x%x", static_cast<unsigned>(err));
        handle_ = nullptr;
        return false;
    }
    for (const Param& p : kParams) {
        err = aacEncoder_SetParam(handle_, p.param, p.value);
        if (err != AACENC_OK) {
            gLogger().logout("aacEncoder_SetParam %s failed: 0x%x", p.name,
                             static_cast<unsigned>(err));
            close();
            return false;
        }
    }
    // A call without buffers applies the parameters.
    err = aacEncEncode(handle_, nullptr, nullptr, nullptr, nullptr);
    AACENC_InfoStruct info{};
    if (err == AACENC_OK) {
        err = aacEncInfo(handle_, &info);
    }
    if (err != AACENC_OK) {
        gLogger().logout("aac encoder set-up failed: 0x%x", static_cast<unsigned>(err));
        close();
        return false;
    }
    frameLength_ = static_cast<int>(info.frameLength);
    config_.assign(info.confBuf, info.confBuf + info.confSize);
    out_.resize(std::max<size_t>(info.maxOutBufBytes, kMaxAccessUnitBytes));
    flushed_ = false;
    return true;
}

void AacLdEncoder::close() {
    if (handle_ != nullptr) {
        aacEncClose(&handle_);
        handle_ = nullptr;
    }
    config_.clear();
    frameLength_ = 0;
}

int AacLdEncoder::encode(const int16_t* samples, int frames, const PacketSink& sink) {
    if (handle_ == nullptr || flushed_ || frames <= 0) {
        return 0;
    }
    const int total = frames * kChannels;
    int offset = 0;
    int bytes = 0;
    // Each call hands out at most one access unit, and the library may take
    // more input than one unit's worth: call until the input is used and
    // nothing more comes out.
    for (;;) {
        int consumed = 0;
        bool finished = false;
        int produced = encodeOnce(samples + offset, total - offset, &consumed, sink, &finished);
        if (produced < 0 || finished) {
            break;
        }
        offset += consumed;
        bytes += produced;
        if (produced == 0 && (offset >= total || consumed == 0)) {
            break;
        }
    }
    return bytes;
}

int AacLdEncoder::flush(const PacketSink& sink) {
    if (handle_ == nullptr || flushed_) {
        return 0;
    }
    flushed_ = true;
    int16_t none = 0;
    int bytes = 0;
    for (;;) {
        int consumed = 0;
        bool finished = false;
        int produced = encodeOnce(&none, -1, &consumed, sink, &finished);
        if (produced <= 0 || finished) {
            break;
        }
        bytes += produced;
    }
    return bytes;
}

int AacLdEncoder::encodeOnce(const int16_t* samples, int inSamples, int* consumed,
                             const PacketSink& sink, bool* finished) {
    void* inBuf = const_cast<int16_t*>(samples);
    INT inId = IN_AUDIO_DATA;
    INT inSize = std::max(inSamples, 0) * static_cast<INT>(sizeof(INT_PCM));
    INT inElSize = sizeof(INT_PCM);
    AACENC_BufDesc in{1, &inBuf, &inId, &inSize, &inElSize};

    void* outBuf = out_.data();
    INT outId = OUT_BITSTREAM_DATA;
    INT outSize = static_cast<INT>(out_.size());
    INT outElSize = 1;
    AACENC_BufDesc out{1, &outBuf, &outId, &outSize, &outElSize};

    AACENC_InArgs inArgs{};
    inArgs.numInSamples = inSamples;
    AACENC_OutArgs outArgs{};
    AACENC_ERROR err = aacEncEncode(handle_, &in, &out, &inArgs, &outArgs);
    if (err == AACENC_ENCODE_EOF) {
        *finished = true;
        return 0;
    }
    if (err != AACENC_OK) {
        gLogger().logout("aacEncEncode failed: 0x%x", static_cast<unsigned>(err));
        return -1;
    }
    *consumed = outArgs.numInSamples;
    if (outArgs.numOutBytes > 0) {
        sink(out_.data(), outArgs.numOutBytes);
    }
    return outArgs.numOutBytes;
}
