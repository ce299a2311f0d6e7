#include "Media/EncoderH264/KeyFrameGate.h"

#include <utility>

namespace {

// NAL unit types 1 to 5 carry slices; 5 those of an IDR picture.
constexpr int kFirstSliceType = 1;
constexpr int kIdrSliceType = 5;

} // namespace

KeyFrameGate::KeyFrameGate(std::function<void()> requestKeyFrame) : requestKeyFrame_(std::move(requestKeyFrame)) {}

bool KeyFrameGate::admits(bool keyFrame) const
{
    return keyFrame || !awaitingKeyFrame_;
}

void KeyFrameGate::handedOver(bool keyFrame, bool sent)
{
    if (!sent) {
        awaitingKeyFrame_ = true;
        requestKeyFrame_();
    } else if (keyFrame) {
        awaitingKeyFrame_ = false;
    }
}

bool KeyFrameGate::isKeyFrame(std::span<const uint8_t> accessUnit)
{
    // Emulation prevention keeps 00 00 01 out of NAL units, so each one found starts a NAL unit; the
    // first slice tells the picture's kind, after the parameter sets and SEI in front of it.
    for (size_t i = 0; i + 3 < accessUnit.size(); ++i) {
        if (accessUnit[i] != 0 || accessUnit[i + 1] != 0 || accessUnit[i + 2] != 1)
            continue;
        const int type = accessUnit[i + 3] & 0x1F;
        if (type >= kFirstSliceType && type <= kIdrSliceType)
            return type == kIdrSliceType;
        i += 2;
    }
    return false;
}
