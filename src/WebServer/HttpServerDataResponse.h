#pragma once

#include "WebServer/HttpServerFunctions.h"
#include "WebServer/HttpServerResponse.h"

#include <nlohmann/json.hpp>

// A body held in memory, sent whole as one piece.
class HttpServerDataResponse : public HttpServerResponse {
public:
    HttpServerDataResponse(std::vector<uint8_t> data, const std::string& contentType);

    // nullptr when the content type cannot go in a header.
    static std::shared_ptr<HttpServerDataResponse> responseWithData(std::vector<uint8_t> data, const std::string& contentType);
    // nullptr for text that is not UTF-8.
    static std::shared_ptr<HttpServerDataResponse> responseWithText(const std::string& text);
    static std::shared_ptr<HttpServerDataResponse> responseWithHTML(const std::string& html);
    // The file's text with every "%key%" replaced by its value; nullptr when the file is unreadable.
    static std::shared_ptr<HttpServerDataResponse> responseWithHTMLTemplate(const std::string& path,
                                                                            const std::map<std::string, std::string>& variables);
    // nullptr for a discarded value or one that cannot be written as JSON.
    static std::shared_ptr<HttpServerDataResponse> responseWithJSONObject(const nlohmann::json& object,
                                                                          const std::string& contentType = "application/json");

    const std::vector<uint8_t>& data() const { return data_; }

    Piece readData(HttpError* error) override;
    std::string description() const override;

protected:
    template <typename Response>
    static std::shared_ptr<Response> make(std::vector<uint8_t> data, const std::string& contentType)
    {
        if (!HttpServerFunctions::isValidHeaderValue(contentType)) {
            return nullptr;
        }
        return std::make_shared<Response>(std::move(data), contentType);
    }
    static std::optional<std::vector<uint8_t>> utf8Bytes(const std::string& text);

private:
    std::vector<uint8_t> data_;
    bool done_ = false;
};
