#include "UI/TvMirror/DisplayGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

bool isPositiveLength(double value)
{
    return std::isfinite(value) && value > 0;
}

} // namespace

std::optional<DisplaySize> DisplayGeometry::contentSizeForTv(DisplaySize tv)
{
    if (!isPositiveLength(tv.width) || !isPositiveLength(tv.height))
        return std::nullopt;
    if (tv.width > tv.height)
        return DisplaySize{kInitialContentSize.width, tv.height / (tv.width / kInitialContentSize.width)};
    return DisplaySize{tv.width / (tv.height / kInitialContentSize.height), kInitialContentSize.height};
}

float DisplayGeometry::scale(double tvExtent, double contentExtent)
{
    if (!isPositiveLength(tvExtent) || !isPositiveLength(contentExtent))
        return 0.0f;
    return static_cast<float>(tvExtent / contentExtent);
}

DisplaySize DisplayGeometry::frameSizeForUserResize(DisplaySize proposedFrame, double titleBarHeight)
{
    return {proposedFrame.width, proposedFrame.width * 9.0 / 16.0 + titleBarHeight};
}

DisplayRect DisplayGeometry::standardFrame(DisplayRect currentFrame, DisplayRect defaultFrame, double mainDisplayWidth)
{
    const double height = defaultFrame.size.height;
    const double width = isPositiveLength(currentFrame.size.height)
                             ? currentFrame.size.width / currentFrame.size.height * height
                             : defaultFrame.size.width;
    return {{(mainDisplayWidth - width) * 0.5, defaultFrame.origin.y}, {width, height}};
}

double DisplayGeometry::handleOriginY(double originY, double translationY, double contentHeight, double handleHeight)
{
    return std::max(0.0, std::min(originY + translationY, contentHeight - handleHeight));
}

int32_t DisplayGeometry::saturatingInt32(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double kMin = std::numeric_limits<int32_t>::min();
    constexpr double kMax = std::numeric_limits<int32_t>::max();
    if (value <= kMin)
        return std::numeric_limits<int32_t>::min();
    if (value >= kMax)
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

DisplayRect DisplayGeometry::aspectFit(DisplaySize picture, DisplaySize area)
{
    if (!isPositiveLength(picture.width) || !isPositiveLength(picture.height) || !isPositiveLength(area.width) ||
        !isPositiveLength(area.height))
        return {};
    // The side that limits takes the area's extent exactly, so rounding leaves no sliver beside it.
    const double byWidth = area.width / picture.width;
    const double byHeight = area.height / picture.height;
    const DisplaySize drawn = byWidth <= byHeight ? DisplaySize{area.width, picture.height * byWidth}
                                                  : DisplaySize{picture.width * byHeight, area.height};
    return {{(area.width - drawn.width) / 2, (area.height - drawn.height) / 2}, drawn};
}
