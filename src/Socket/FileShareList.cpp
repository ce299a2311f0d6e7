#include "Socket/FileShareList.h"

#include <nlohmann/json.hpp>

std::vector<uint8_t> FileShareList::encode() const
{
    const nlohmann::json list = nlohmann::json::array({{
        {"fileType", "3005"},
        {"url", url},
        {"fileId", fileId},
        {"fileName", fileName},
        {"indexver", "-1"},
    }});
    // Replacing bad UTF-8 keeps dump() from throwing on a file name from a foreign file system.
    const std::string text = list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return {text.begin(), text.end()};
}
