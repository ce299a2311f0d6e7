#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

// libavcodec's H.264 decoder, set up for live pictures: no output delay, no frame threads. Owned by
// one thread at a time; not locked.
class H264PictureDecoder {
public:
    // How input reaches decode().
    enum class Input {
        // Each call holds one whole access unit.
        AccessUnits,
        // Calls may hold single NAL units; a picture comes out once its last slice is in.
        NalUnits,
    };
    // What one decode() call did with its input.
    struct Outcome {
        // 0, or the libavcodec error that refused or broke the input.
        int error = 0;
        int pictures = 0;
        // Pictures that came out but the decoder marked as damaged (not handed on).
        int corrupt = 0;
    };
    using PictureHandler = std::function<void(const AVFrame& picture)>;

    H264PictureDecoder() = default;
    ~H264PictureDecoder();
    H264PictureDecoder(const H264PictureDecoder&) = delete;
    H264PictureDecoder& operator=(const H264PictureDecoder&) = delete;

    // Opens the decoder; false (logged with who) when libavcodec has none or refuses it. strict makes
    // any bitstream damage an error instead of hiding it. maxPixels (0: libavcodec's own bound) makes
    // a larger picture an error before any memory is taken for it.
    bool open(Input input, bool strict, const char* who, int64_t maxPixels = 0);
    bool isOpen() const { return context_ != nullptr; }
    // Feeds bytes (Annex-B) stamped pts and hands each whole, undamaged picture that comes out to
    // onPicture before returning; the picture is valid only during that call.
    Outcome decode(std::span<const uint8_t> bytes, int64_t pts, const PictureHandler& onPicture);
    // Forgets every reference picture and half-decoded input.
    void flush();
    void close();

    // libavcodec's text for an error code.
    static std::string errorText(int error);

private:
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* picture_ = nullptr;
};
