#pragma once

#include <QString>

#include <string>
#include <string_view>

// Our UTF-8 texts as Qt's strings.
class UiText {
public:
    static QString of(const std::string& text) { return QString::fromStdString(text); }
    // The localised text of a STRING_ key.
    static QString localized(std::string_view key);
};
