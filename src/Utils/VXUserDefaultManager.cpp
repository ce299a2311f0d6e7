#include "Utils/VXUserDefaultManager.h"

#include "Utils/FileManager.h"
#include "Utils/Log.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* kFileName = "settings.json";

// Writes all of text to fd; false (logged) when it cannot.
bool writeWhole(int fd, const std::string& text, const fs::path& file)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            PLOG_ERRNO("cannot write settings file %s", file.c_str());
            return false;
        }
        done += static_cast<size_t>(written);
    }
    if (::fsync(fd) != 0) {
        PLOG_ERRNO("cannot write settings file %s", file.c_str());
        return false;
    }
    return true;
}

} // namespace

VXUserDefaultManager& VXUserDefaultManager::sharedManager()
{
    static VXUserDefaultManager* const instance = new VXUserDefaultManager(defaultPath().value_or(fs::path()));
    return *instance;
}

std::optional<fs::path> VXUserDefaultManager::defaultPath()
{
    const std::optional<fs::path> folder = FileManager::configFolder();
    if (!folder) {
        return std::nullopt;
    }
    return *folder / kFileName;
}

VXUserDefaultManager::VXUserDefaultManager(fs::path file) : file_(std::move(file)), values_(load(file_)) {}

nlohmann::json VXUserDefaultManager::load(const fs::path& file)
{
    if (file.empty()) {
        PLOG("no settings folder: settings are kept in memory only");
        return nlohmann::json::object();
    }
    std::error_code error;
    if (!fs::exists(file, error)) {
        return nlohmann::json::object();
    }
    const std::uintmax_t size = fs::file_size(file, error);
    if (error || size > kMaxFileSize) {
        PLOG("settings file %s is not readable or too large: starting without settings", file.c_str());
        return nlohmann::json::object();
    }
    std::ifstream in(file, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    nlohmann::json values = nlohmann::json::parse(text, nullptr, false);
    if (in.bad() || !values.is_object()) {
        PLOG("settings file %s does not hold a JSON object: starting without settings", file.c_str());
        return nlohmann::json::object();
    }
    return values;
}

std::optional<nlohmann::json> VXUserDefaultManager::objectForKey(const std::string& key) const
{
    std::lock_guard lock(mutex_);
    const auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return *found;
}

bool VXUserDefaultManager::setObject(const nlohmann::json& value, const std::string& key)
{
    std::lock_guard lock(mutex_);
    values_[key] = value;
    return save();
}

float VXUserDefaultManager::floatForKey(const std::string& key) const
{
    const std::optional<nlohmann::json> value = objectForKey(key);
    if (!value || !value->is_number()) {
        return 0.0f;
    }
    // A number past a float's range (a file edited by hand) reads as the largest float, not as garbage.
    const double number = std::clamp(value->get<double>(), double{-FLT_MAX}, double{FLT_MAX});
    return static_cast<float>(number);
}

bool VXUserDefaultManager::setFloat(float value, const std::string& key)
{
    return setObject(value, key);
}

bool VXUserDefaultManager::boolForKey(const std::string& key) const
{
    const std::optional<nlohmann::json> value = objectForKey(key);
    if (!value) {
        return false;
    }
    if (value->is_boolean()) {
        return value->get<bool>();
    }
    return value->is_number() && value->get<double>() != 0;
}

bool VXUserDefaultManager::setBool(bool value, const std::string& key)
{
    return setObject(value, key);
}

bool VXUserDefaultManager::removeObjectForKey(const std::string& key)
{
    std::lock_guard lock(mutex_);
    values_.erase(key);
    return save();
}

bool VXUserDefaultManager::save() const
{
    if (file_.empty()) {
        return false;
    }
    const fs::path folder = file_.parent_path();
    std::error_code error;
    fs::create_directories(folder, error);
    std::string temporary = (folder / ("." + file_.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        PLOG_ERRNO("cannot write settings file %s", file_.c_str());
        return false;
    }
    // Text that is not UTF-8 is replaced rather than refused, so one odd value never blocks the rest.
    const std::string text = values_.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const bool written = writeWhole(fd, text, file_);
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), file_.c_str()) != 0) {
        if (written) {
            PLOG_ERRNO("cannot replace settings file %s", file_.c_str());
        }
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}
