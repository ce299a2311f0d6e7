#include "Media/EncoderH264/TzVideoEncoder.h"

#include "Media/EncoderH264/AnnexBConverter.h"
#include "Utils/Locked.h"
#include "Utils/Log.h"

#include <x264.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr int32_t kMaxFrameRate = 1000;
constexpr double kMaxDimension = 16384;
// H.264 colour-matrix code of BT.601 (SMPTE 170M): what the scaler's BGRA conversion produces.
constexpr int kColourMatrixBt601 = 6;

// x264's warnings and errors go to our log; its chatter below that does not.
void logFromX264(void*, int level, const char* format, va_list args)
{
    if (level > X264_LOG_WARNING)
        return;
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    text[std::strcspn(text, "\n")] = '\0';
    PLOG("x264: %s", text);
}

// The plane holds `rows` rows of `rowBytes` bytes, `stride` bytes apart.
bool planeHolds(std::span<const uint8_t> plane, int stride, int rowBytes, int rows)
{
    return stride >= rowBytes && plane.size() >= static_cast<size_t>(stride) * static_cast<size_t>(rows);
}

bool planesHoldFrame(const TzVideoEncoder::Frame& frame)
{
    if (frame.format == TzVideoEncoder::Frame::Format::BGRA)
        return planeHolds(frame.planes[0], frame.strides[0], frame.width * 4, frame.height);
    const int chromaWidth = (frame.width + 1) / 2;
    const int chromaHeight = (frame.height + 1) / 2;
    return planeHolds(frame.planes[0], frame.strides[0], frame.width, frame.height) &&
           planeHolds(frame.planes[1], frame.strides[1], chromaWidth, chromaHeight) &&
           planeHolds(frame.planes[2], frame.strides[2], chromaWidth, chromaHeight);
}

bool dimensionAccepted(double value)
{
    return value >= 1 && value <= kMaxDimension;  // also false for NaN
}

} // namespace

TzVideoEncoder::TzVideoEncoder(std::shared_ptr<ParameterSetRequest> parameterSetRequest, int conversionThreads)
    : parameterSetRequest_(std::move(parameterSetRequest)), converter_(conversionThreads)
{
}

TzVideoEncoder::~TzVideoEncoder()
{
    std::lock_guard guard(lock_);
    endSession();
}

int32_t TzVideoEncoder::startEncodeSessionWithVideoSize(double width, double height, int32_t framerate, int32_t bitrate)
{
    std::lock_guard guard(lock_);
    endSession();
    lastKeyFrame_ = false;
    frameCount_ = 0;
    fps_ = framerate;
    bitRate_ = bitrate;
    // Each session brings its own parameter sets: a restart may change the size.
    sps_.clear();
    pps_.clear();

    const auto fail = [&](const char* why) {
        PLOG("H264: no encode session of %.1f x %.1f at %d fps and %d bit/s: %s", width, height, framerate, bitrate,
             why);
        endSession();
        sps_.clear();
        pps_.clear();
        return -1;
    };
    if (framerate < 1 || framerate > kMaxFrameRate || !dimensionAccepted(width) || !dimensionAccepted(height) ||
        bitrate < 1)
        return fail("refused");
    width_ = static_cast<int>(width);
    height_ = static_cast<int>(height);
    encoderBitRate_ = std::min(bitrate, kMaxEncoderBitRate);

    x264_param_t param;
    if (x264_param_default_preset(&param, "superfast", "zerolatency") < 0)
        return fail("preset refused");
    param.pf_log = logFromX264;
    param.i_log_level = X264_LOG_WARNING;
    param.i_csp = X264_CSP_I420;
    param.i_width = width_;
    param.i_height = height_;
    param.vui.i_colmatrix = kColourMatrixBt601;
    param.i_fps_num = static_cast<uint32_t>(framerate);
    param.i_fps_den = 1;
    param.i_timebase_num = 1;
    param.i_timebase_den = static_cast<uint32_t>(framerate);
    param.b_vfr_input = 0;
    param.i_keyint_max = framerate * 2;
    // Key frames come only on the schedule, never on scene changes.
    param.i_scenecut_threshold = 0;
    // Kilobits per second; the peak over any one second is 1.5 times the average.
    const int averageKbps = std::max(1, encoderBitRate_ / 1000);
    param.rc.i_rc_method = X264_RC_ABR;
    param.rc.i_bitrate = averageKbps;
    param.rc.i_vbv_max_bitrate = averageKbps * 3 / 2;
    param.rc.i_vbv_buffer_size = param.rc.i_vbv_max_bitrate;
    // Length-prefixed NAL units and no parameter sets in the frames: deliver() places both.
    param.b_annexb = 0;
    param.b_repeat_headers = 0;
    if (x264_param_apply_profile(&param, "baseline") < 0)
        return fail("baseline profile refused");

    encodeSession_ = x264_encoder_open(&param);
    if (!encodeSession_)
        return fail("x264 refused the parameters");
    picture_ = std::make_unique<x264_picture_t>();
    x264_picture_init(picture_.get());
    picture_->img.i_csp = X264_CSP_I420;
    picture_->img.i_plane = 3;

    x264_nal_t* nals = nullptr;
    int nalCount = 0;
    if (x264_encoder_headers(encodeSession_, &nals, &nalCount) < 0)
        return fail("no parameter sets");
    for (int i = 0; i < nalCount; ++i) {
        AnnexBConverter::forEachNalUnit({nals[i].p_payload, static_cast<size_t>(nals[i].i_payload)},
                                        [this](std::span<const uint8_t> nalUnit) {
                                            const int type = nalUnit[0] & 0x1F;
                                            if (type == NAL_SPS)
                                                sps_.assign(nalUnit.begin(), nalUnit.end());
                                            else if (type == NAL_PPS)
                                                pps_.assign(nalUnit.begin(), nalUnit.end());
                                        });
    }
    if (sps_.empty() || pps_.empty())
        return fail("parameter sets missing");
    return 0;
}

void TzVideoEncoder::encodeWithSampleBuffer(const Frame& frame, uint64_t, CompletionBlock completionBlock)
{
    std::lock_guard guard(lock_);
    completionBlock_ = std::move(completionBlock);
    if (!encodeSession_) {
        PLOG("frame not encoded: no encoder session");
        return;
    }
    if (!fillPicture(frame))
        return;

    // Frames are timed by their number in a 1/fps time base; one forced key frame opens every
    // group of fps x 2 frames, starting with the first, and one more answers each request.
    picture_->i_pts = frameCount_;
    const bool requested = keyFrameRequested_.exchange(false);
    picture_->i_type = requested || frameCount_ % (int64_t{fps_} * 2) == 0 ? X264_TYPE_IDR : X264_TYPE_AUTO;
    ++frameCount_;

    x264_picture_t encodedPicture;
    x264_nal_t* nals = nullptr;
    int nalCount = 0;
    const int size = x264_encoder_encode(encodeSession_, &nals, &nalCount, picture_.get(), &encodedPicture);
    if (size < 0) {
        PLOG("H264: x264_encoder_encode failed with %d", size);
        return;
    }
    // Tuned for zero latency, x264 holds no frame back: each input comes out of this very call, so
    // a teardown has nothing pending to flush. The NAL units of one frame lie one after another.
    if (size > 0 && nalCount > 0)
        deliver({nals[0].p_payload, static_cast<size_t>(size)}, encodedPicture.b_keyframe != 0);
}

bool TzVideoEncoder::fillPicture(const Frame& frame)
{
    if (!dimensionAccepted(frame.width) || !dimensionAccepted(frame.height) || !planesHoldFrame(frame)) {
        PLOG("H264: refusing a %d x %d frame: bad size, or planes too small for its rows", frame.width, frame.height);
        return false;
    }
    const SlicedI420Converter::Source source{
        frame.format == Frame::Format::BGRA ? SlicedI420Converter::Layout::kBgra : SlicedI420Converter::Layout::kI420,
        frame.width,
        frame.height,
        {frame.planes[0].data(), frame.planes[1].data(), frame.planes[2].data()},
        frame.strides};
    const SlicedI420Converter::I420* converted = converter_.convert(source, width_, height_);
    if (!converted)
        return false;
    // x264 reads the converter's picture in place; it stays until the next frame's conversion.
    for (size_t i = 0; i < converted->planes.size(); ++i) {
        picture_->img.plane[i] = converted->planes[i];
        picture_->img.i_stride[i] = converted->strides[i];
    }
    return true;
}

void TzVideoEncoder::deliver(std::span<const uint8_t> encoded, bool keyFrame)
{
    std::vector<uint8_t> accessUnit;
    accessUnit.reserve(2 * AnnexBConverter::kStartCode.size() + sps_.size() + pps_.size() + encoded.size());
    const auto appendParameterSets = [&] {
        if (sps_.empty() || pps_.empty())
            return;
        AnnexBConverter::appendNalUnit(sps_, accessUnit);
        AnnexBConverter::appendNalUnit(pps_, accessUnit);
    };
    if (keyFrame) {
        // In front of every key frame, so a receiver that lost frames can join there; repeated once
        // more in front of the frame after it.
        lastKeyFrame_ = true;
        appendParameterSets();
    } else {
        const bool requested = parameterSetRequest_ && parameterSetRequest_->consume();
        if (lastKeyFrame_ || requested) {
            lastKeyFrame_ = false;
            appendParameterSets();
        }
    }
    AnnexBConverter::appendLengthPrefixed(encoded, accessUnit);
    // A copy: the closure may replace itself.
    const CompletionBlock block = completionBlock_;
    if (block)
        block(accessUnit);
}

void TzVideoEncoder::endSession()
{
    if (encodeSession_) {
        x264_encoder_close(encodeSession_);
        encodeSession_ = nullptr;
    }
    picture_.reset();
}

void TzVideoEncoder::requestKeyFrame()
{
    keyFrameRequested_.store(true);
}

void TzVideoEncoder::stopEncodeSession()
{
    std::lock_guard guard(lock_);
    endSession();
    sps_.clear();
    pps_.clear();
}

void TzVideoEncoder::deallocEncoder()
{
    std::lock_guard guard(lock_);
    endSession();
}

TzVideoEncoder::CompletionBlock TzVideoEncoder::completionBlock() const
{
    return lockedRead(lock_, completionBlock_);
}

void TzVideoEncoder::setCompletionBlock(CompletionBlock block)
{
    lockedWrite(lock_, completionBlock_, std::move(block));
}

std::vector<uint8_t> TzVideoEncoder::sps_tz() const
{
    return lockedRead(lock_, sps_);
}

void TzVideoEncoder::setSps_tz(std::vector<uint8_t> sps)
{
    lockedWrite(lock_, sps_, std::move(sps));
}

std::vector<uint8_t> TzVideoEncoder::pps_tz() const
{
    return lockedRead(lock_, pps_);
}

void TzVideoEncoder::setPps_tz(std::vector<uint8_t> pps)
{
    lockedWrite(lock_, pps_, std::move(pps));
}

bool TzVideoEncoder::lastKeyFrame() const
{
    return lockedRead(lock_, lastKeyFrame_);
}

void TzVideoEncoder::setLastKeyFrame(bool value)
{
    lockedWrite(lock_, lastKeyFrame_, value);
}

int32_t TzVideoEncoder::fps() const
{
    return lockedRead(lock_, fps_);
}

int32_t TzVideoEncoder::bitRate() const
{
    return lockedRead(lock_, bitRate_);
}

double TzVideoEncoder::dataRateLimit() const
{
    std::lock_guard guard(lock_);
    return bitRate_ * 1.5 * 0.125;
}

int32_t TzVideoEncoder::encoderBitRate() const
{
    return lockedRead(lock_, encoderBitRate_);
}

TzVideoEncoder::Frame TzVideoEncoder::Frame::bgra(const BgraFrame& picture)
{
    Frame frame;
    frame.format = Format::BGRA;
    frame.width = picture.width;
    frame.height = picture.height;
    frame.planes[0] = picture.bytes();
    frame.strides[0] = picture.stride;
    return frame;
}
