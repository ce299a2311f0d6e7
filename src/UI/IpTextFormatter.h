#pragma once

#include "UI/TextFormatter.h"

// The address field's formatter: a dotted IPv4 address of up to 15 characters or a casting code of 6
// digits and capital letters. The limit follows the text as it is typed and stays between edits: 15
// once a dot shows (or a long text has one fourth), 6 for a long text without one.
class IpTextFormatter final : public TextFormatter {
public:
    static constexpr int64_t kCodeLength = 6;
    static constexpr int64_t kAddressLength = 15;

    Judgement isPartialStringValid(const std::u16string& proposed, const std::u16string& original,
                                   Range originalSelectedRange) override;
};
