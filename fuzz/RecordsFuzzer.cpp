// Feeds arbitrary payloads to every record decoder; the first byte picks the decoder. Besides
// memory errors it checks that records which travel both ways survive a re-encode.
#include "Socket/CapabilityFlagPayload.h"
#include "Socket/ClientInfoRecord.h"
#include "Socket/FileShareOffer.h"
#include "Socket/HeartbeatPayload.h"
#include "Socket/Int32Payload.h"
#include "Socket/KeyExchangeOffer.h"
#include "Socket/NetworkEchoPayload.h"
#include "Socket/ServerInfoRecord.h"
#include "Socket/TouchPayload.h"
#include "Socket/TvScreenResolutionPayload.h"
#include "Socket/UdpChannelOpenPayload.h"
#include "Socket/UdpResendFragmentsPayload.h"
#include "Socket/UdpResendRangePayload.h"
#include "Socket/VideoQualityPayload.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void decodeOne(uint8_t which, std::span<const uint8_t> payload)
{
    switch (which % 16) {
    case 0: {
        const auto value = Int32Payload::decode(payload);
        require(Int32Payload::decode(value.encode()).value == value.value);
        break;
    }
    case 1: {
        const auto value = Int32Payload::decodeLittleEndian(payload);
        require(Int32Payload::decodeLittleEndian(value.encodeLittleEndian()).value == value.value);
        break;
    }
    case 2:
        CapabilityFlagPayload::decode(payload);
        break;
    case 3: {
        const auto beat = HeartbeatPayload::decode(payload);
        const auto again = HeartbeatPayload::decode(beat.encode());
        require(again.sequence == beat.sequence && again.echo == beat.echo && again.status == beat.status);
        break;
    }
    case 4:
        if (const auto echo = NetworkEchoPayload::decode(payload)) {
            const auto again = NetworkEchoPayload::decode(echo->encode());
            require(again && again->id == echo->id && again->echo == echo->echo && again->timeA == echo->timeA
                    && again->timeB == echo->timeB);
        }
        break;
    case 5:
        UdpChannelOpenPayload::decode(payload);
        break;
    case 6:
        if (const auto request = UdpResendFragmentsPayload::decode(payload)) {
            require(request->bitmap.size() <= UdpResendFragmentsPayload::kMaxBitmapWords);
            for (size_t fragment = 0; fragment < 300; ++fragment)
                request->selects(fragment);
        }
        break;
    case 7:
        UdpResendRangePayload::decode(payload);
        break;
    case 8:
        if (const auto info = ClientInfoRecord::decode(payload))
            require(info->encode().size() == ClientInfoRecord::kSize);
        break;
    case 9:
        ServerInfoRecord::decode(payload);
        break;
    case 10:
        VideoQualityPayload::decode(payload);
        break;
    case 11:
        TvScreenResolutionPayload::decode(payload);
        break;
    case 12:
        TouchPayload::decode(payload);
        break;
    case 13: {
        const auto offer = KeyExchangeOffer::decode(payload);
        require(offer.publicKey.size() <= payload.size());
        break;
    }
    default:
        FileShareOffer::decode(payload);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    decodeOne(data[0], std::span(data + 1, size - 1));
    return 0;
}
