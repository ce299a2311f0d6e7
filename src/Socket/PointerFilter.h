#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <span>
#include <utility>

// The type a held touch is re-typed to: a near-still move more than a second after the last down or
// passed move.
inline constexpr int kPointerLongPress = 1;

// Thins out the TV's touches before they drive the pointer: near-still moves are dropped, except
// that one held for more than a second becomes a single long press. Its state is process-wide, so
// the TV link uses shared(); tests make their own with a clock of their choosing.
class PointerFilter {
public:
    // Wall-clock time in milliseconds since the Unix epoch.
    using Clock = std::function<double()>;

    static constexpr size_t kTouchSize = 16;
    // A move within this many pixels of the last touch on both axes counts as still.
    static constexpr int64_t kStillPixels = 3;
    static constexpr double kLongPressMs = 1'000;

    // A touch that passed: the type to hand on and a copy of the payload's 16 bytes.
    struct Touch {
        int type = 0;
        std::array<uint8_t, kTouchSize> data{};
    };

    static PointerFilter& shared();

    PointerFilter();
    explicit PointerFilter(Clock now);

    // Receive thread: one kMsgTouchDown, kMsgTouchMove or kMsgTouchUp as received. nullopt when it
    // is dropped: shorter than a touch, still, or marked (fourth word not 0).
    std::optional<Touch> filter(int type, std::span<const uint8_t> payload);
    // Session queue, as a passed touch is handed on: any touch but a long press ends the hold.
    void willDeliver(int type);

private:
    Clock now_;
    std::mutex mutex_;
    int32_t lastX_ = 0;
    int32_t lastY_ = 0;
    // The largest value at start, so the first still move is dropped, not taken for a long press.
    double lastTimeMs_ = std::numeric_limits<double>::max();
    bool holdFlag_ = false;
};
