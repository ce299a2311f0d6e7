#include "tv-sim/TvMessages.h"

#include "Socket/Int32Payload.h"
#include "Socket/TouchPayload.h"
#include "Socket/TvScreenResolutionPayload.h"
#include "Socket/VideoQualityPayload.h"

std::vector<uint8_t> TvMessages::text(const std::string& text)
{
    return {text.begin(), text.end()};
}

std::vector<uint8_t> TvMessages::int32(int32_t value)
{
    return Int32Payload{value}.encode();
}

std::vector<uint8_t> TvMessages::touch(int32_t x, int32_t y, int32_t fourth)
{
    return TouchPayload{.x = x, .y = y, .third = 0, .fourth = fourth}.encodeLittleEndian();
}

std::vector<uint8_t> TvMessages::videoQuality(int32_t width, int32_t height, int32_t level, int32_t fps)
{
    return VideoQualityPayload{.width = width, .height = height, .level = level, .fps = fps}.encode();
}

std::vector<uint8_t> TvMessages::screenResolution(int32_t width, int32_t height)
{
    return TvScreenResolutionPayload{.width = width, .height = height}.encode();
}

std::vector<uint8_t> TvMessages::keyCode(int32_t code)
{
    return Int32Payload{code}.encodeLittleEndian();
}

std::vector<uint8_t> TvMessages::capability(uint8_t flag)
{
    return Int32Payload{flag}.encode();
}
