#pragma once

#include <cstdint>
#include <span>

// Why a link ended, as far as this side can tell. The transport raises it as the one byte of
// kMsgDisconnected's payload; the session hands it to onDisConnect.
enum class LinkEndReason : uint8_t {
    // This side ended it: a disconnect, a new connect, a release after the TV asked this computer
    // to leave or after a capture failed.
    Released = 0,
    // The TV closed or reset its socket, or sent a stream that cannot be read: the TV is gone.
    TvClosed = 1,
    // Nothing came for the receive time-outs, or a read or write failed for want of an answer or a
    // route: the network between this computer and the TV is gone.
    NetworkLost = 2,
};

// The reason a kMsgDisconnected payload carries; Released for none or a byte of no reason, so an
// end that says nothing is never taken for a failure.
constexpr LinkEndReason linkEndReasonOf(std::span<const uint8_t> payload)
{
    if (payload.empty() || payload[0] > static_cast<uint8_t>(LinkEndReason::NetworkLost))
        return LinkEndReason::Released;
    return static_cast<LinkEndReason>(payload[0]);
}

// For log lines.
constexpr const char* linkEndReasonName(LinkEndReason reason)
{
    switch (reason) {
    case LinkEndReason::TvClosed:
        return "the TV closed it";
    case LinkEndReason::NetworkLost:
        return "the network is gone";
    case LinkEndReason::Released:
        break;
    }
    return "released here";
}
