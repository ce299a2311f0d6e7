#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Decodes H.264 access units one at a time on the caller's thread with libavcodec, as the viewing
// client does, and hands back each picture's size and luma plane for a picture check.
class LumaDecoder {
public:
    struct Picture {
        int width = 0;
        int height = 0;
        // Packed rows of width bytes.
        std::vector<uint8_t> luma;
    };

    LumaDecoder()
    {
        if (const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264)) {
            context_ = avcodec_alloc_context3(codec);
            context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
            if (avcodec_open2(context_, codec, nullptr) != 0)
                avcodec_free_context(&context_);
        }
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
    }
    ~LumaDecoder()
    {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&context_);
    }
    LumaDecoder(const LumaDecoder&) = delete;
    LumaDecoder& operator=(const LumaDecoder&) = delete;

    // The picture of one access unit; nullopt when it gives none or a corrupt one.
    std::optional<Picture> decode(std::span<const uint8_t> accessUnit)
    {
        if (!context_ || av_new_packet(packet_, static_cast<int>(accessUnit.size())) != 0)
            return std::nullopt;
        std::copy(accessUnit.begin(), accessUnit.end(), packet_->data);
        const int sent = avcodec_send_packet(context_, packet_);
        av_packet_unref(packet_);
        if (sent != 0 || avcodec_receive_frame(context_, frame_) != 0)
            return std::nullopt;
        Picture picture{.width = frame_->width, .height = frame_->height, .luma = {}};
        const bool corrupt = frame_->decode_error_flags != 0 || (frame_->flags & AV_FRAME_FLAG_CORRUPT) != 0;
        for (int y = 0; y < frame_->height && !corrupt; ++y) {
            const uint8_t* row = frame_->data[0] + static_cast<ptrdiff_t>(y) * frame_->linesize[0];
            picture.luma.insert(picture.luma.end(), row, row + frame_->width);
        }
        av_frame_unref(frame_);
        if (corrupt)
            return std::nullopt;
        return picture;
    }

private:
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
};
