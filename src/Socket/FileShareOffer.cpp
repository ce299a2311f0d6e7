#include "Socket/FileShareOffer.h"

#include "Utils/ByteReader.h"

#include <nlohmann/json.hpp>

namespace {

std::optional<std::string> idText(const nlohmann::json& id)
{
    if (id.is_string())
        return id.get<std::string>();
    if (id.is_number_integer())
        return id.dump();
    return std::nullopt;
}

} // namespace

std::optional<FileShareOffer> FileShareOffer::decode(std::span<const uint8_t> payload)
{
    const auto json = nlohmann::json::parse(ByteReader(payload).text(), nullptr, false);
    if (!json.is_object())
        return std::nullopt;
    const auto url = json.find("url");
    const auto files = json.find("files");
    if (url == json.end() || !url->is_string() || files == json.end() || !files->is_array())
        return std::nullopt;
    FileShareOffer offer;
    offer.url = url->get<std::string>();
    for (const auto& entry : *files) {
        if (!entry.is_object())
            continue;
        const auto id = entry.find("id");
        const auto name = entry.find("name");
        if (id == entry.end() || name == entry.end() || !name->is_string())
            continue;
        if (auto text = idText(*id))
            offer.files.push_back({std::move(*text), name->get<std::string>()});
    }
    return offer;
}
