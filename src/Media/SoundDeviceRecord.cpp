#include "Media/SoundDeviceRecord.h"

#include "Utils/FileManager.h"
#include "Utils/Log.h"

#include <algorithm>
#include <fstream>
#include <system_error>

namespace {

constexpr const char* kSinkKey = "sink ";
constexpr const char* kSourceKey = "source ";

bool isName(const std::string& text)
{
    return !text.empty() && text.size() <= SoundDeviceRecord::kMaxNameLength &&
           std::none_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

} // namespace

std::optional<std::filesystem::path> SoundDeviceRecord::defaultPath()
{
    const auto folder = FileManager::stateFolder();
    if (!folder)
        return std::nullopt;
    return *folder / "sound-devices";
}

SoundDeviceRecord::SoundDeviceRecord(std::filesystem::path file) : file_(std::move(file)) {}

bool SoundDeviceRecord::save(const Devices& devices) const
{
    for (const auto* name : {&devices.sink, &devices.source}) {
        if (*name && !isName(**name)) {
            PLOG("the sound device name \"%s\" cannot be recorded", (*name)->c_str());
            return false;
        }
    }
    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    const std::filesystem::path temporary = file_.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        if (devices.sink)
            out << kSinkKey << *devices.sink << '\n';
        if (devices.source)
            out << kSourceKey << *devices.source << '\n';
        out.flush();
        if (!out) {
            PLOG("cannot write the sound devices' record %s", temporary.c_str());
            return false;
        }
    }
    std::filesystem::rename(temporary, file_, error);
    if (error) {
        PLOG("cannot write the sound devices' record %s: %s", file_.c_str(), error.message().c_str());
        return false;
    }
    return true;
}

std::optional<SoundDeviceRecord::Devices> SoundDeviceRecord::load() const
{
    std::error_code error;
    const auto size = std::filesystem::file_size(file_, error);
    if (error)
        return std::nullopt;
    if (size > kMaxFileSize) {
        PLOG("the sound devices' record %s is too long (%ju bytes); it is ignored", file_.c_str(), size);
        return std::nullopt;
    }
    std::ifstream in(file_);
    Devices devices;
    std::string line;
    while (std::getline(in, line)) {
        std::optional<std::string>* slot = nullptr;
        std::string name;
        if (line.starts_with(kSinkKey)) {
            slot = &devices.sink;
            name = line.substr(std::char_traits<char>::length(kSinkKey));
        } else if (line.starts_with(kSourceKey)) {
            slot = &devices.source;
            name = line.substr(std::char_traits<char>::length(kSourceKey));
        }
        if (!slot || !isName(name)) {
            PLOG("the sound devices' record %s holds a line that names no device; it is ignored", file_.c_str());
            return std::nullopt;
        }
        *slot = std::move(name);
    }
    return devices;
}

void SoundDeviceRecord::clear() const
{
    std::error_code ignored;
    std::filesystem::remove(file_, ignored);
}
