#include "server/audio/PcmFileSource.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include "common/Logger.h"

namespace {

constexpr int kOutRate = 44100;
constexpr int kOutChannels = 2;
constexpr int kBytesPerFrame = kOutChannels * 2;
// Room beyond the rate-converted length for what the resampler held back.
constexpr int64_t kSpareFrames = 256;

}  // namespace

PcmFileSource::PcmFileSource() : packet_(av_packet_alloc()), frame_(av_frame_alloc()) {}

PcmFileSource::~PcmFileSource() {
    close();
    av_frame_free(&frame_);
    av_packet_free(&packet_);
}

bool PcmFileSource::open(const std::string& path) {
    close();
    if (packet_ == nullptr || frame_ == nullptr) {
        gLogger().logout("av_packet_alloc failed");
        return false;
    }
    int err = avformat_open_input(&input_, path.c_str(), nullptr, nullptr);
    if (err < 0) {
        gLogger().logout("avformat_open_input failed: %d", err);
        input_ = nullptr;
        return false;
    }
    err = avformat_find_stream_info(input_, nullptr);
    if (err < 0) {
        gLogger().logout("avformat_find_stream_info failed: %d", err);
        close();
        return false;
    }
    streamIndex_ = av_find_best_stream(input_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (streamIndex_ < 0) {
        gLogger().logout("can't find audio stream");
        close();
        return false;
    }
    // Let the demuxer skip cover art and other streams.
    for (unsigned i = 0; i < input_->nb_streams; ++i) {
        if (static_cast<int>(i) != streamIndex_) {
            input_->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    const AVStream* stream = input_->streams[streamIndex_];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr) {
        gLogger().logout("no decoder for audio codec %d",
                         static_cast<int>(stream->codecpar->codec_id));
        close();
        return false;
    }
    decoder_ = avcodec_alloc_context3(codec);
    err = decoder_ == nullptr ? AVERROR(ENOMEM)
                              : avcodec_parameters_to_context(decoder_, stream->codecpar);
    if (err >= 0) {
        decoder_->pkt_timebase = stream->time_base;
        err = avcodec_open2(decoder_, codec, nullptr);
    }
    if (err < 0) {
        gLogger().logout("avcodec_open2 failed: %d", err);
        close();
        return false;
    }
    return true;
}

void PcmFileSource::close() {
    swr_free(&resampler_);
    resamplerChannels_ = 0;
    resamplerFormat_ = -1;
    resamplerRate_ = 0;
    avcodec_free_context(&decoder_);
    avformat_close_input(&input_);
    streamIndex_ = -1;
}

PcmFileSource::ReadStatus PcmFileSource::readNext(MyBuffer& pcm) {
    if (input_ == nullptr || av_read_frame(input_, packet_) < 0) {
        return ReadStatus::EndOfStream;
    }
    int bytes = 0;
    if (packet_->stream_index == streamIndex_) {
        bytes = decodePacket(packet_, pcm);
    }
    av_packet_unref(packet_);
    return bytes < 0 ? ReadStatus::Undecodable : ReadStatus::Appended;
}

int PcmFileSource::decodePacket(AVPacket* packet, MyBuffer& pcm) {
    int err = avcodec_send_packet(decoder_, packet);
    if (err < 0) {
        gLogger().logout("audio packet does not decode: %d", err);
        return -1;
    }
    int bytes = 0;
    // Every frame the packet yields is taken out, even after a failure, so
    // that the decoder accepts the next packet.
    while ((err = avcodec_receive_frame(decoder_, frame_)) >= 0) {
        if (bytes >= 0) {
            int converted = convertFrame(frame_, pcm);
            bytes = converted < 0 ? -1 : bytes + converted;
        }
        av_frame_unref(frame_);
    }
    if (err != AVERROR(EAGAIN) && err != AVERROR_EOF) {
        gLogger().logout("audio packet does not decode: %d", err);
        return -1;
    }
    return bytes;
}

int PcmFileSource::convertFrame(const AVFrame* frame, MyBuffer& pcm) {
    if (frame->nb_samples <= 0) {
        return 0;
    }
    if (frame->sample_rate <= 0 || !prepareResampler(frame)) {
        return -1;
    }
    int64_t capacity =
        static_cast<int64_t>(frame->nb_samples) * kOutRate / frame->sample_rate + kSpareFrames;
    uint8_t* out = scratch_.getBuffer(static_cast<size_t>(capacity) * kBytesPerFrame);
    int converted =
        swr_convert(resampler_, &out, static_cast<int>(capacity),
                    const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (converted < 0) {
        gLogger().logout("swr_convert failed: %d", converted);
        return -1;
    }
    pcm.appendBuffer(out, static_cast<size_t>(converted) * kBytesPerFrame);
    return converted * kBytesPerFrame;
}

bool PcmFileSource::prepareResampler(const AVFrame* frame) {
    const int channels = frame->ch_layout.nb_channels;
    if (resampler_ != nullptr && channels == resamplerChannels_ &&
        frame->format == resamplerFormat_ && frame->sample_rate == resamplerRate_) {
        return true;
    }
    if (channels <= 0) {
        return false;
    }
    // Set up from the first frame and kept; only a file whose format changes
    // midway gets a new one, since the old one would misread its samples.
    if (resampler_ != nullptr) {
        gLogger().logout("audio format changed midway, resampler rebuilt");
        swr_free(&resampler_);
    }
    AVChannelLayout inLayout{};
    if (frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_copy(&inLayout, &frame->ch_layout);
    } else {
        av_channel_layout_default(&inLayout, channels);
    }
    AVChannelLayout outLayout = AV_CHANNEL_LAYOUT_STEREO;
    int err = swr_alloc_set_opts2(&resampler_, &outLayout, AV_SAMPLE_FMT_S16, kOutRate, &inLayout,
                                  static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                                  nullptr);
    av_channel_layout_uninit(&inLayout);
    if (err >= 0 && channels == 1) {
        // Mono goes to both sides at full level, not the -3 dB of the default mix.
        const double unity[kOutChannels] = {1.0, 1.0};
        err = swr_set_matrix(resampler_, unity, 1);
    }
    if (err >= 0) {
        err = swr_init(resampler_);
    }
    if (err < 0) {
        gLogger().logout("audio resampler set-up failed: %d", err);
        swr_free(&resampler_);
        return false;
    }
    resamplerChannels_ = channels;
    resamplerFormat_ = frame->format;
    resamplerRate_ = frame->sample_rate;
    return true;
}
