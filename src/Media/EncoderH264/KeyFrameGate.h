#pragma once

#include <cstdint>
#include <functional>
#include <span>

// Keeps the TV from decoding pictures whose reference it never got: once a video unit is dropped on
// its way, the gate asks the encoder for a key frame and holds back every delta unit until a key
// frame has been handed over. One per capture, used on the capture queue only.
class KeyFrameGate {
public:
    explicit KeyFrameGate(std::function<void()> requestKeyFrame);

    // Whether a unit of this kind may be handed over now.
    bool admits(bool keyFrame) const;
    // The outcome of handing a unit over: a drop asks for a key frame and closes the gate to delta
    // units; a key frame that got through opens it.
    void handedOver(bool keyFrame, bool sent);

    // Whether the Annex-B access unit holds the slices of an IDR picture.
    static bool isKeyFrame(std::span<const uint8_t> accessUnit);

private:
    const std::function<void()> requestKeyFrame_;
    bool awaitingKeyFrame_ = false;
};
