#include "Media/CheckVirtualDrivers.h"

#include "Platform/MainQueue.h"
#include "Utils/AppInfo.h"
#include "Utils/Log.h"
#include "Utils/Shell.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path infoFile(const fs::path& root, const char* name)
{
    return root / name / "Contents" / "Info.json";
}

// The dot-separated numbers of a version, leading zeros dropped; nullopt for any other text.
std::optional<std::vector<std::string_view>> versionNumbers(std::string_view text)
{
    std::vector<std::string_view> numbers;
    for (;;) {
        const size_t dot = text.find('.');
        std::string_view number = text.substr(0, dot);
        if (number.empty() || !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        while (number.size() > 1 && number.front() == '0')
            number.remove_prefix(1);
        numbers.push_back(number);
        if (dot == std::string_view::npos)
            return numbers;
        text.remove_prefix(dot + 1);
    }
}

// Digit runs without leading zeros, compared as numbers of any size.
std::strong_ordering compareNumbers(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return a.size() <=> b.size();
    return a.compare(b) <=> 0;
}

// The data folder of the XDG rules: unset, empty or relative values count as missing.
std::optional<fs::path> dataHome()
{
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/')
        return fs::path(data);
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return fs::path(home) / ".local" / "share";
    return std::nullopt;
}

const char* yesNo(bool value)
{
    return value ? "YES" : "NO";
}

} // namespace

CheckVirtualDrivers::Folders CheckVirtualDrivers::defaultFolders()
{
    Folders folders;
    if (const auto data = dataHome())
        folders.installed = *data / "pelkor" / "drivers";
    else
        PLOG("neither XDG_DATA_HOME nor HOME is set: no installed drivers can be found");
    folders.resources = AppInfo::main().resourcesFolder();
    return folders;
}

CheckVirtualDrivers::CheckVirtualDrivers() : CheckVirtualDrivers(defaultFolders(), AppInfo::main().enableROZI())
{
}

CheckVirtualDrivers::CheckVirtualDrivers(Folders folders, bool relayEnabled)
    : folders_(std::move(folders))
    , relayEnabled_(relayEnabled)
    , hasSpeaker_(checkVirtualDrivers())
    , hasMicrophone_(checkMicrophone())
    , hasCamera_(checkCameraPlugin())
{
}

bool CheckVirtualDrivers::checkVirtualDrivers() const
{
    return checkDriver(kSpeakerDriver, MissingCopyVersion::Current);
}

bool CheckVirtualDrivers::checkMicrophone() const
{
    return !relayEnabled_ || checkDriver(kMicrophoneDriver, MissingCopyVersion::NotCurrent);
}

bool CheckVirtualDrivers::checkCameraPlugin() const
{
    return !relayEnabled_ || checkDriver(kCameraPlugin, MissingCopyVersion::NotCurrent);
}

bool CheckVirtualDrivers::checkDriver(const char* name, MissingCopyVersion missingCopyVersion) const
{
    std::error_code error;
    const fs::path installedInfo = infoFile(folders_.installed, name);
    if (folders_.installed.empty() || !fs::exists(installedInfo, error)) {
        PLOG("%s is not installed", name);
        return false;
    }
    const auto installed = readInfoPath(installedInfo, kVersionKey);
    const fs::path copyInfo = infoFile(folders_.resources / "drivers", name);
    if (!fs::exists(copyInfo, error)) {
        PLOG("%s is not among the resources (%s)", name, copyInfo.c_str());
        return false;
    }
    const auto copy = readInfoPath(copyInfo, kVersionKey);
    if (!installed) {
        PLOG("installed %s has no version", name);
        return false;
    }
    if (!copy) {
        PLOG("shipped %s has no version", name);
        return missingCopyVersion == MissingCopyVersion::Current;
    }
    if (!installed->is_string() || !copy->is_string()) {
        PLOG("%s: a version is not text (installed %s, shipped %s); reinstalling", name, installed->dump().c_str(),
             copy->dump().c_str());
        return false;
    }
    const auto order = compareVersions(copy->get<std::string>(), installed->get<std::string>());
    if (!order) {
        PLOG("%s: cannot compare installed version \"%s\" with shipped \"%s\"; reinstalling", name,
             installed->get<std::string>().c_str(), copy->get<std::string>().c_str());
        return false;
    }
    const bool current = *order <= 0;
    PLOG("%s: installed %s, shipped %s: %s", name, installed->get<std::string>().c_str(),
         copy->get<std::string>().c_str(), current ? "current" : "older");
    return current;
}

std::optional<nlohmann::json> CheckVirtualDrivers::readInfoPath(const fs::path& path, const std::string& key)
{
    auto info = AppInfo::readInfoFile(path);
    if (!info)
        return std::nullopt;
    const auto found = info->find(key);
    if (found == info->end())
        return std::nullopt;
    return std::move(*found);
}

void CheckVirtualDrivers::installPlugin() const
{
    // It waits for the script, however long it runs: on the main queue the user interface would hang.
    assert(!MainQueue::shared()->isCurrent() && "installPlugin never on the main queue");
    const std::string resources = (folders_.resources / "").string();
    PLOG("installing drivers: speaker %s, microphone %s, camera %s", yesNo(hasSpeaker_), yesNo(hasMicrophone_),
         yesNo(hasCamera_));
    // The script's output is only its own log; what it achieved shows at the next launch's checks.
    Shell::script({resources + kInstallScript, resources, yesNo(hasSpeaker_), yesNo(hasMicrophone_), yesNo(hasCamera_)});
}

std::optional<std::strong_ordering> CheckVirtualDrivers::compareVersions(std::string_view a, std::string_view b)
{
    const auto left = versionNumbers(a);
    const auto right = versionNumbers(b);
    if (!left || !right)
        return std::nullopt;
    const size_t count = std::max(left->size(), right->size());
    for (size_t i = 0; i < count; ++i) {
        const std::string_view x = i < left->size() ? (*left)[i] : "0";
        const std::string_view y = i < right->size() ? (*right)[i] : "0";
        if (const auto order = compareNumbers(x, y); order != 0)
            return order;
    }
    return std::strong_ordering::equal;
}
