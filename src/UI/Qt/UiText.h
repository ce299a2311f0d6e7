#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

// Our UTF-8 texts as Qt's strings.
class UiText {
public:
    static QString of(const std::string& text) { return QString::fromStdString(text); }
    // The localised text of a STRING_ key.
    static QString localized(std::string_view key);
    // A count of bytes as the user reads it ("300.00 MiB").
    static std::string dataSize(uint64_t bytes);
};
