#pragma once

#include "UI/TextFormatter.h"

// The device-name field's formatter: any text up to maxLength (no limit unless one is set).
class DeviceNameTextFormatter final : public TextFormatter {
public:
    Judgement isPartialStringValid(const std::u16string& proposed, const std::u16string& original,
                                   Range originalSelectedRange) override;
};
