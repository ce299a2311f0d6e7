#include "Media/AudioManager/AacEncoder.h"

#include "Platform/PulseCapture.h"
#include "Utils/Log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

std::unique_ptr<AacEncoder> AacEncoder::create()
{
    std::unique_ptr<AacEncoder> self(new AacEncoder());
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    self->codec_ = codec ? avcodec_alloc_context3(codec) : nullptr;
    self->frame_ = av_frame_alloc();
    self->packet_ = av_packet_alloc();
    if (!self->codec_ || !self->frame_ || !self->packet_) {
        PLOG("AAC encoder unavailable");
        return nullptr;
    }
    AVCodecContext* context = self->codec_;
    context->sample_fmt = AV_SAMPLE_FMT_FLTP;
    context->sample_rate = PulseCapture::kSampleRate;
    context->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    context->bit_rate = kBitRate;
    context->profile = FF_PROFILE_AAC_LOW;
    context->time_base = AVRational{1, static_cast<int>(PulseCapture::kSampleRate)};
    if (avcodec_open2(context, codec, nullptr) < 0) {
        PLOG("AAC encoder failed to open");
        return nullptr;
    }
    return self;
}

AacEncoder::~AacEncoder()
{
    avcodec_free_context(&codec_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
}

std::vector<std::vector<uint8_t>> AacEncoder::encode(std::span<const float> interleaved)
{
    std::vector<std::vector<uint8_t>> packets;
    pending_.insert(pending_.end(), interleaved.begin(), interleaved.end());
    const size_t frameSamples = static_cast<size_t>(codec_->frame_size);
    size_t used = 0;
    while (pending_.size() - used >= frameSamples * 2) {
        av_frame_unref(frame_);
        frame_->nb_samples = codec_->frame_size;
        frame_->format = codec_->sample_fmt;
        frame_->sample_rate = codec_->sample_rate;
        if (av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout) < 0 || av_frame_get_buffer(frame_, 0) < 0) {
            PLOG("AAC encoder frame allocation failed");
            break;
        }
        auto* left = reinterpret_cast<float*>(frame_->data[0]);
        auto* right = reinterpret_cast<float*>(frame_->data[1]);
        for (size_t i = 0; i < frameSamples; ++i) {
            left[i] = pending_[used + 2 * i];
            right[i] = pending_[used + 2 * i + 1];
        }
        used += frameSamples * 2;
        frame_->pts = nextPts_;
        nextPts_ += codec_->frame_size;
        if (avcodec_send_frame(codec_, frame_) < 0) {
            PLOG("AAC encoder refused a frame");
            continue;
        }
        collect(packets);
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
    return packets;
}

void AacEncoder::collect(std::vector<std::vector<uint8_t>>& packets)
{
    while (avcodec_receive_packet(codec_, packet_) == 0) {
        packets.emplace_back(packet_->data, packet_->data + packet_->size);
        av_packet_unref(packet_);
    }
}
