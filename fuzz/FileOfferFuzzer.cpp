// Feeds arbitrary bytes to the TV's file offer and takes each entry on the road to its download: the
// fetch URL from the base URL with the TV's address put in, and the name it gets in the download
// folder. Besides memory errors it checks that every name stays one plain entry of the folder.
#include "FileShare/DownloadFolder.h"
#include "FileShare/OfferURL.h"
#include "Socket/FileShareOffer.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto offer = FileShareOffer::decode(std::span<const uint8_t>(data, size));
    if (!offer)
        return 0;
    require(offer->fileCount() >= offer->files.size());
    const std::string base = OfferURL::replaceConnectURL(offer->url, "10.1.2.3");
    size_t index = 0;
    for (const auto& file : offer->files) {
        OfferURL::fileURL(base, file.id);
        const std::string name = DownloadFolder::safeName(file.name, ++index);
        require(!name.empty() && name != "." && name != "..");
        require(name.size() <= DownloadFolder::kMaxNameBytes);
        require(name.find('/') == std::string::npos && name.find('\0') == std::string::npos);
    }
    return 0;
}
