#include "Media/H264PictureDecoder.h"

#include "Utils/Log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

#include <climits>

H264PictureDecoder::~H264PictureDecoder()
{
    close();
}

bool H264PictureDecoder::open(Input input, bool strict, const char* who, int64_t maxPixels)
{
    close();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (codec == nullptr) {
        PLOG("%s: libavcodec has no H.264 decoder", who);
        return false;
    }
    context_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    picture_ = av_frame_alloc();
    if (context_ == nullptr || packet_ == nullptr || picture_ == nullptr) {
        PLOG("%s: no memory for the H.264 decoder", who);
        close();
        return false;
    }
    // A picture is shown as soon as it is whole: no output delay, and slice threads (which add none)
    // rather than frame threads (which hold a picture back per thread).
    context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context_->thread_type = FF_THREAD_SLICE;
    context_->thread_count = 0;
    if (input == Input::NalUnits)
        context_->flags2 |= AV_CODEC_FLAG2_CHUNKS;
    if (strict)
        context_->err_recognition |= AV_EF_EXPLODE;
    if (maxPixels > 0)
        context_->max_pixels = maxPixels;
    const int opened = avcodec_open2(context_, codec, nullptr);
    if (opened < 0) {
        PLOG("%s: the H.264 decoder does not open: %s", who, errorText(opened).c_str());
        close();
        return false;
    }
    return true;
}

H264PictureDecoder::Outcome H264PictureDecoder::decode(std::span<const uint8_t> bytes, int64_t pts,
                                                       const PictureHandler& onPicture)
{
    Outcome outcome;
    // libavcodec copies an unowned packet into a padded buffer, so the size must leave room for it.
    if (context_ == nullptr || bytes.empty() || bytes.size() > size_t(INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) {
        outcome.error = AVERROR(EINVAL);
        return outcome;
    }
    packet_->data = const_cast<uint8_t*>(bytes.data());
    packet_->size = static_cast<int>(bytes.size());
    packet_->pts = pts;
    const int sent = avcodec_send_packet(context_, packet_);
    av_packet_unref(packet_);
    if (sent < 0) {
        outcome.error = sent;
        return outcome;
    }
    int status = 0;
    while ((status = avcodec_receive_frame(context_, picture_)) == 0) {
        if (picture_->decode_error_flags != 0 || (picture_->flags & AV_FRAME_FLAG_CORRUPT) != 0) {
            ++outcome.corrupt;
        } else {
            ++outcome.pictures;
            onPicture(*picture_);
        }
        av_frame_unref(picture_);
    }
    if (status != AVERROR(EAGAIN) && status != AVERROR_EOF)
        outcome.error = status;
    return outcome;
}

void H264PictureDecoder::flush()
{
    if (context_ != nullptr)
        avcodec_flush_buffers(context_);
}

void H264PictureDecoder::close()
{
    avcodec_free_context(&context_);
    av_packet_free(&packet_);
    av_frame_free(&picture_);
}

std::string H264PictureDecoder::errorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}
