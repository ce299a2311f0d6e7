#include "Session/CastQuality.h"

CastQuality::Format CastQuality::forLevel(int32_t level)
{
    switch (level) {
    case 1:
        return {1280, 720, 10};
    case 2:
    case 3:
        return {1600, 900, 10};
    case 4:
        return {1600, 900, 15};
    default:
        return {1920, 1080, 30};
    }
}

Size CastQuality::encodedSize(int32_t selectedIndex, Size answered)
{
    switch (selectedIndex) {
    case 0:
        return answered;
    case 2:
        return {1280, 720};
    case 3:
        return {2560, 1440};
    default:
        return {1920, 1080};
    }
}
