#include "Media/VideoStill.h"

#include "Media/BgraPictureConverter.h"
#include "Media/H264PictureDecoder.h"
#include "Utils/Log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

struct FormatCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecCloser {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketCloser {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameCloser {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

using Format = std::unique_ptr<AVFormatContext, FormatCloser>;
using Codec = std::unique_ptr<AVCodecContext, CodecCloser>;

Format openFile(const std::filesystem::path& file)
{
    AVFormatContext* context = nullptr;
    const int opened = avformat_open_input(&context, file.c_str(), nullptr, nullptr);
    if (opened < 0) {
        PLOG("Video still: %s does not open: %s", file.c_str(), H264PictureDecoder::errorText(opened).c_str());
        return nullptr;
    }
    Format format(context);
    if (avformat_find_stream_info(context, nullptr) < 0) {
        PLOG("Video still: %s holds no readable streams", file.c_str());
        return nullptr;
    }
    return format;
}

Codec openDecoder(const AVStream& stream)
{
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    if (codec == nullptr)
        return nullptr;
    Codec context(avcodec_alloc_context3(codec));
    if (context == nullptr || avcodec_parameters_to_context(context.get(), stream.codecpar) < 0)
        return nullptr;
    // One picture is wanted: frame threads would only add delay before it.
    context->thread_type = FF_THREAD_SLICE;
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return nullptr;
    return context;
}

} // namespace

std::shared_ptr<const BgraFrame> VideoStill::firstPicture(const std::filesystem::path& file)
{
    Format format = openFile(file);
    if (format == nullptr)
        return nullptr;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        PLOG("Video still: %s holds no video", file.c_str());
        return nullptr;
    }
    Codec decoder = openDecoder(*format->streams[index]);
    std::unique_ptr<AVPacket, PacketCloser> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameCloser> picture(av_frame_alloc());
    if (decoder == nullptr || packet == nullptr || picture == nullptr) {
        PLOG("Video still: no decoder for the video of %s", file.c_str());
        return nullptr;
    }
    BgraPictureConverter converter;
    bool draining = false;
    for (int packets = 0; packets < kMaxPackets; ++packets) {
        const int received = avcodec_receive_frame(decoder.get(), picture.get());
        if (received == 0)
            return converter.convert(*picture);
        if (received != AVERROR(EAGAIN) || draining)
            break;
        const int read = av_read_frame(format.get(), packet.get());
        if (read < 0) {
            // The end of the file: what the decoder still holds comes out on a flush.
            draining = true;
            avcodec_send_packet(decoder.get(), nullptr);
            continue;
        }
        if (packet->stream_index == index)
            avcodec_send_packet(decoder.get(), packet.get());
        av_packet_unref(packet.get());
    }
    PLOG("Video still: no picture from the video of %s", file.c_str());
    return nullptr;
}
