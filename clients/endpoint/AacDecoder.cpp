#include "clients/endpoint/AacDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const uint8_t kAudioSpecificConfig[] = {0xBA, 0x11, 0x00};

int16_t toS16(float sample) {
    const float scaled = std::round(sample * 32767.0f);
    return static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

}  // namespace

AacDecoder::~AacDecoder() {
    close();
}

void AacDecoder::close() {
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&ctx_);
}

bool AacDecoder::open(std::string& error) {
    close();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
    ctx_ = codec ? avcodec_alloc_context3(codec) : nullptr;
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!ctx_ || !packet_ || !frame_) {
        error = "no AAC decoder";
        close();
        return false;
    }
    ctx_->extradata = static_cast<uint8_t*>(
        av_mallocz(sizeof kAudioSpecificConfig + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(ctx_->extradata, kAudioSpecificConfig, sizeof kAudioSpecificConfig);
    ctx_->extradata_size = sizeof kAudioSpecificConfig;
    ctx_->sample_rate = 44100;
    av_channel_layout_default(&ctx_->ch_layout, 2);
    if (avcodec_open2(ctx_, codec, nullptr) < 0) {
        error = "AAC decoder refused the stream format";
        close();
        return false;
    }
    return true;
}

bool AacDecoder::decode(const uint8_t* unit, size_t length, std::vector<int16_t>& out) {
    if (!ctx_ || length == 0 || av_new_packet(packet_, static_cast<int>(length)) < 0) {
        return false;
    }
    std::memcpy(packet_->data, unit, length);
    const int sent = avcodec_send_packet(ctx_, packet_);
    av_packet_unref(packet_);
    if (sent < 0) {
        return false;
    }
    bool ok = true;
    while (avcodec_receive_frame(ctx_, frame_) >= 0) {
        const int channels = frame_->ch_layout.nb_channels;
        if (frame_->format != AV_SAMPLE_FMT_FLTP || channels < 1) {
            ok = false;
        } else {
            const auto* left = reinterpret_cast<const float*>(frame_->extended_data[0]);
            const auto* right =
                reinterpret_cast<const float*>(frame_->extended_data[channels > 1 ? 1 : 0]);
            for (int i = 0; i < frame_->nb_samples; ++i) {
                out.push_back(toS16(left[i]));
                out.push_back(toS16(right[i]));
            }
        }
        av_frame_unref(frame_);
    }
    return ok;
}

void AacDecoder::reset() {
    if (ctx_) {
        avcodec_flush_buffers(ctx_);
    }
}
