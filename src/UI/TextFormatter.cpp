#include "UI/TextFormatter.h"

#include <algorithm>

TextFormatter::Judgement TextFormatter::limit(const std::u16string& proposed, const std::u16string& original,
                                              Range originalSelectedRange) const
{
    const auto proposedLength = static_cast<int64_t>(proposed.size());
    if (proposedLength <= maxLength_)
        return {};
    // The selection comes from the field; it is held inside the original all the same.
    const auto originalLength = static_cast<int64_t>(original.size());
    const int64_t location = std::clamp<int64_t>(originalSelectedRange.location, 0, originalLength);
    const int64_t length = std::clamp<int64_t>(originalSelectedRange.length, 0, originalLength - location);
    // Negative once the limit is below what the original keeps outside its selection: none fits.
    const int64_t fits = maxLength_ + length - originalLength;
    const int64_t keep = std::clamp<int64_t>(fits, 0, std::max<int64_t>(0, proposedLength - location));

    std::u16string shortened = original.substr(0, static_cast<size_t>(location));
    if (keep > 0)
        shortened += proposed.substr(static_cast<size_t>(location), static_cast<size_t>(keep));
    shortened += original.substr(static_cast<size_t>(location + length));
    return Judgement::replace(std::move(shortened), {location + keep, 0});
}
