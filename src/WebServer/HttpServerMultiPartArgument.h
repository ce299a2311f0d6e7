#pragma once

#include "WebServer/HttpServerMultiPart.h"

#include <cstdint>
#include <optional>
#include <vector>

// A field part of a form, held in memory.
class HttpServerMultiPartArgument : public HttpServerMultiPart {
public:
    HttpServerMultiPartArgument(std::string controlName, std::string contentType, std::vector<uint8_t> data);

    const std::vector<uint8_t>& data() const { return data_; }
    // The data as text for a "text/" content type (decoded with its charset); nullopt otherwise.
    const std::optional<std::string>& string() const { return string_; }

    std::string description() const override;

private:
    std::vector<uint8_t> data_;
    std::optional<std::string> string_;
};
