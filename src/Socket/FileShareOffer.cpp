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

std::optional<uint64_t> sizeOf(const nlohmann::json& entry)
{
    const auto size = entry.find("size");
    if (size == entry.end() || !size->is_number_unsigned())
        return std::nullopt;
    return size->get<uint64_t>();
}

} // namespace

std::optional<FileShareOffer> FileShareOffer::decode(std::span<const uint8_t> payload)
{
    const auto json = nlohmann::json::parse(ByteReader(payload).text(), nullptr, false);
    if (!json.is_object())
        return std::nullopt;
    FileShareOffer offer;
    if (const auto url = json.find("url"); url != json.end() && url->is_string())
        offer.url = url->get<std::string>();
    const auto files = json.find("files");
    if (files == json.end() || !files->is_array())
        return offer;
    for (const auto& entry : *files) {
        std::optional<std::string> id;
        if (entry.is_object()) {
            const auto idMember = entry.find("id");
            const auto name = entry.find("name");
            if (idMember != entry.end() && name != entry.end() && name->is_string())
                id = idText(*idMember);
            if (id)
                offer.files.push_back({std::move(*id), name->get<std::string>(), sizeOf(entry)});
        }
        if (!id)
            ++offer.unusableFiles;
    }
    return offer;
}
