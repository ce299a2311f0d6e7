#pragma once

#include "WebServer/HttpServerRequest.h"

#include <nlohmann/json.hpp>

// A request whose body is kept in memory, with text and JSON views. The body is capped: a declared
// or received length past maxBodyLength() fails the body with 413.
class HttpServerDataRequest : public HttpServerRequest {
public:
    static constexpr size_t kDefaultMaxBodyLength = 16u << 20;

    const std::vector<uint8_t>& data() const { return data_; }
    void setData(std::vector<uint8_t> data);
    // The body as UTF-8 text for a "text/" content type (decoded with its charset); nullopt otherwise.
    const std::optional<std::string>& text() const;
    // The body parsed as JSON for a JSON content type; nullopt when it is not one or does not parse.
    const std::optional<nlohmann::json>& jsonObject() const;

    size_t maxBodyLength() const { return maxBodyLength_; }
    void setMaxBodyLength(size_t length) { maxBodyLength_ = length; }

    bool open(HttpError* error) override;
    bool writeData(std::span<const uint8_t> data, HttpError* error) override;
    bool close(HttpError* error) override;

    std::string description() const override;

private:
    std::vector<uint8_t> data_;
    size_t maxBodyLength_ = kDefaultMaxBodyLength;
    // Views made on first use and kept once found.
    mutable std::optional<std::string> text_;
    mutable std::optional<nlohmann::json> jsonObject_;
};
