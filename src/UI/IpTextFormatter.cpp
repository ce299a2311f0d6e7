#include "UI/IpTextFormatter.h"

namespace {

// From this length on, the fourth character tells an address from a code.
constexpr size_t kJudgedLength = 7;
constexpr size_t kFirstDotOfAddress = 3;

// Whole UTF-16 units are compared, so a character whose low byte happens to be a digit is no digit.
bool isDigitOrCapital(char16_t unit)
{
    return (unit >= u'0' && unit <= u'9') || (unit >= u'A' && unit <= u'Z');
}

} // namespace

TextFormatter::Judgement IpTextFormatter::isPartialStringValid(const std::u16string& proposed,
                                                               const std::u16string& original,
                                                               Range originalSelectedRange)
{
    if (proposed.size() >= kJudgedLength)
        setMaxLength(proposed[kFirstDotOfAddress] == u'.' ? kAddressLength : kCodeLength);
    for (const char16_t unit : proposed) {
        if (unit == u'.')
            setMaxLength(kAddressLength);
        else if (!isDigitOrCapital(unit))
            return Judgement::refuse();
    }
    return limit(proposed, original, originalSelectedRange);
}
