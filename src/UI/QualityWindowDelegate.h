#pragma once

#include <string>

// Told the text of each quality the user confirms in the quality picker. Main thread.
class QualityWindowDelegate {
public:
    virtual ~QualityWindowDelegate() = default;
    virtual void setQualityText(const std::string& text) = 0;
};
