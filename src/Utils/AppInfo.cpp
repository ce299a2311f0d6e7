#include "Utils/AppInfo.h"

#include "Utils/Log.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// An information file is a handful of keys; anything far larger is not one.
constexpr std::streamsize kMaxInfoFileSize = 64 * 1024;

constexpr const char* kDefaultExecutable = "pelkor";

// The string under key, or fallback when the key is missing or not text.
std::string stringValue(const nlohmann::json& info, const char* key, const std::string& fallback)
{
    const auto found = info.find(key);
    if (found == info.end())
        return fallback;
    if (!found->is_string()) {
        PLOG("information key %s is not text; using \"%s\"", key, fallback.c_str());
        return fallback;
    }
    return found->get<std::string>();
}

fs::path withFinalSlash(const fs::path& folder)
{
    return folder / "";
}

} // namespace

AppInfo::AppInfo(fs::path resourcesFolder)
    : bundleExecutable_(kDefaultExecutable)
    , shortVersionString_(PELKOR_VERSION)
    , resourcesFolder_(withFinalSlash(resourcesFolder))
{
}

const AppInfo& AppInfo::main()
{
    static const AppInfo info = fromFile(locate());
    return info;
}

AppInfo AppInfo::fromFile(const fs::path& file)
{
    std::error_code error;
    fs::path absolute = fs::absolute(file, error);
    if (error)
        absolute = file;
    AppInfo info(absolute.parent_path());
    const auto keys = readInfoFile(absolute);
    if (!keys) {
        PLOG("using the built-in application information");
        return info;
    }
    const auto enable = keys->find("EnableROZI");
    info.enableROZI_ = enable != keys->end() && enable->is_boolean() && enable->get<bool>();
    if (enable != keys->end() && !enable->is_boolean())
        PLOG("information key EnableROZI is not a boolean; the relay stays off");
    info.bundleExecutable_ = stringValue(*keys, "CFBundleExecutable", info.bundleExecutable_);
    info.shortVersionString_ = stringValue(*keys, "CFBundleShortVersionString", info.shortVersionString_);
    info.updateHost_ = stringValue(*keys, "PKUpdateHost", info.updateHost_);
    info.updatePath_ = stringValue(*keys, "PKUpdatePath", info.updatePath_);
    const auto port = keys->find("PKUpdatePort");
    if (port != keys->end()) {
        if (port->is_number_integer() && port->get<int64_t>() > 0 && port->get<int64_t>() <= 65535)
            info.updatePort_ = port->get<int>();
        else
            PLOG("information key PKUpdatePort is not a port number; using %d", info.updatePort_);
    }
    return info;
}

std::optional<nlohmann::json> AppInfo::readInfoFile(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        PLOG("cannot read information file %s", file.c_str());
        return std::nullopt;
    }
    std::string text(static_cast<size_t>(kMaxInfoFileSize) + 1, '\0');
    in.read(text.data(), kMaxInfoFileSize + 1);
    if (in.bad()) {
        PLOG("cannot read information file %s", file.c_str());
        return std::nullopt;
    }
    if (in.gcount() > kMaxInfoFileSize) {
        PLOG("information file %s is larger than %ld bytes", file.c_str(), static_cast<long>(kMaxInfoFileSize));
        return std::nullopt;
    }
    text.resize(static_cast<size_t>(in.gcount()));
    auto value = nlohmann::json::parse(text, nullptr, false);
    if (!value.is_object()) {
        PLOG("information file %s does not hold a JSON object", file.c_str());
        return std::nullopt;
    }
    return value;
}

fs::path AppInfo::locate()
{
    if (const char* chosen = std::getenv("PELKOR_INFO"); chosen && *chosen)
        return chosen;

    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    const fs::path installed = error ? fs::path() : executable.parent_path() / ".." / "share" / "pelkor" / kFileName;
    const fs::path sourceTree = fs::path(PELKOR_SOURCE_RESOURCES) / kFileName;
    for (const auto& candidate : {installed, sourceTree}) {
        if (!candidate.empty() && fs::is_regular_file(candidate, error))
            return candidate.lexically_normal();
    }
    // Nothing shipped: the built-in values, with the installed place as the resources folder.
    return installed.empty() ? sourceTree : installed.lexically_normal();
}
