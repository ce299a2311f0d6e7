#include "WebServer/HttpServerDataResponse.h"

#include "Utils/Log.h"

#include <fstream>
#include <sstream>

HttpServerDataResponse::HttpServerDataResponse(std::vector<uint8_t> data, const std::string& contentType) : data_(std::move(data))
{
    setContentType(contentType);
    setContentLength(data_.size());
}

std::shared_ptr<HttpServerDataResponse> HttpServerDataResponse::responseWithData(std::vector<uint8_t> data, const std::string& contentType)
{
    return make<HttpServerDataResponse>(std::move(data), contentType);
}

std::optional<std::vector<uint8_t>> HttpServerDataResponse::utf8Bytes(const std::string& text)
{
    if (!HttpServerFunctions::isValidUTF8(text)) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::shared_ptr<HttpServerDataResponse> HttpServerDataResponse::responseWithText(const std::string& text)
{
    std::optional<std::vector<uint8_t>> bytes = utf8Bytes(text);
    return bytes ? make<HttpServerDataResponse>(std::move(*bytes), "text/plain; charset=utf-8") : nullptr;
}

std::shared_ptr<HttpServerDataResponse> HttpServerDataResponse::responseWithHTML(const std::string& html)
{
    std::optional<std::vector<uint8_t>> bytes = utf8Bytes(html);
    return bytes ? make<HttpServerDataResponse>(std::move(*bytes), "text/html; charset=utf-8") : nullptr;
}

std::shared_ptr<HttpServerDataResponse> HttpServerDataResponse::responseWithHTMLTemplate(const std::string& path,
                                                                                         const std::map<std::string, std::string>& variables)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    if (!file || !(contents << file.rdbuf())) {
        PLOG("Failed to read the HTML template \"%s\"", path.c_str());
        return nullptr;
    }
    std::string html = contents.str();
    for (const auto& [key, value] : variables) {
        const std::string marker = "%" + key + "%";
        for (size_t found = html.find(marker); found != std::string::npos; found = html.find(marker, found + value.size())) {
            html.replace(found, marker.size(), value);
        }
    }
    return responseWithHTML(html);
}

std::shared_ptr<HttpServerDataResponse> HttpServerDataResponse::responseWithJSONObject(const nlohmann::json& object,
                                                                                       const std::string& contentType)
{
    if (object.is_discarded()) {
        return nullptr;
    }
    std::string text;
    try {
        text = object.dump();
    } catch (const nlohmann::json::exception& failure) {
        PLOG("Failed to write JSON: %s", failure.what());
        return nullptr;
    }
    return make<HttpServerDataResponse>(std::vector<uint8_t>(text.begin(), text.end()), contentType);
}

HttpServerBodyReader::Piece HttpServerDataResponse::readData(HttpError*)
{
    if (done_) {
        return std::vector<uint8_t>();
    }
    done_ = true;
    return data_;
}

std::string HttpServerDataResponse::description() const
{
    return HttpServerResponse::description() + "\n\n" + HttpServerFunctions::describeBodyData(data_, contentType().value_or(""));
}
