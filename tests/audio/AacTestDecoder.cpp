#include "tests/audio/AacTestDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <cstring>

namespace {

bool drain(AVCodecContext* ctx, AVFrame* frame, DecodedPcm& out) {
    int err;
    while ((err = avcodec_receive_frame(ctx, frame)) >= 0) {
        if (frame->format != AV_SAMPLE_FMT_FLTP || frame->ch_layout.nb_channels != 2 ||
            frame->sample_rate != 44100) {
            return false;
        }
        const auto* l = reinterpret_cast<const float*>(frame->extended_data[0]);
        const auto* r = reinterpret_cast<const float*>(frame->extended_data[1]);
        out.left.insert(out.left.end(), l, l + frame->nb_samples);
        out.right.insert(out.right.end(), r, r + frame->nb_samples);
        av_frame_unref(frame);
    }
    return err == AVERROR(EAGAIN) || err == AVERROR_EOF;
}

}  // namespace

bool decodeAac(const std::vector<uint8_t>& audioSpecificConfig,
               const std::vector<std::vector<uint8_t>>& packets, DecodedPcm& out) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool ok = ctx && packet && frame;
    if (ok) {
        ctx->extradata = static_cast<uint8_t*>(
            av_mallocz(audioSpecificConfig.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::memcpy(ctx->extradata, audioSpecificConfig.data(), audioSpecificConfig.size());
        ctx->extradata_size = static_cast<int>(audioSpecificConfig.size());
        ctx->sample_rate = 44100;
        av_channel_layout_default(&ctx->ch_layout, 2);
        ok = avcodec_open2(ctx, codec, nullptr) >= 0;
    }
    for (size_t i = 0; ok && i < packets.size(); ++i) {
        ok = av_new_packet(packet, static_cast<int>(packets[i].size())) >= 0;
        if (ok) {
            std::memcpy(packet->data, packets[i].data(), packets[i].size());
            ok = avcodec_send_packet(ctx, packet) >= 0 && drain(ctx, frame, out);
            av_packet_unref(packet);
        }
    }
    if (ok) {
        ok = avcodec_send_packet(ctx, nullptr) >= 0 && drain(ctx, frame, out);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return ok;
}
