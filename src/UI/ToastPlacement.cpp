#include "UI/ToastPlacement.h"

namespace {

constexpr double kTopOrigin = 480;
constexpr double kBottomOrigin = 80;

} // namespace

ToastPlacement::Origin ToastPlacement::origin(Size window, Size toast, int64_t position)
{
    const double x = (window.width - toast.width) / 2;
    switch (position) {
    case 0:
        return {x, kTopOrigin};
    case 2:
        return {x, kBottomOrigin};
    default:
        return {x, (window.height - toast.height) / 2};
    }
}
