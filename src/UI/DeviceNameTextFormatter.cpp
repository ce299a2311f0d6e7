#include "UI/DeviceNameTextFormatter.h"

TextFormatter::Judgement DeviceNameTextFormatter::isPartialStringValid(const std::u16string& proposed,
                                                                       const std::u16string& original,
                                                                       Range originalSelectedRange)
{
    return limit(proposed, original, originalSelectedRange);
}
