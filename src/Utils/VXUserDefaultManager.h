#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

// The user's settings: a JSON object kept in memory and written whole to its file after each change
// (to a temporary file beside it, then renamed over it, so a crash leaves the old or the new file,
// never half of one). A missing, unreadable or corrupt file reads as no settings (logged). Safe from
// any thread. The setters answer whether the change reached the file; it stays in memory either way.
class VXUserDefaultManager {
public:
    // Files larger than this are not settings this system wrote: read as corrupt.
    static constexpr std::uintmax_t kMaxFileSize = 1 << 20;

    // The process-wide settings in defaultPath(); in memory only without one. Made on first use.
    static VXUserDefaultManager& sharedManager();
    // settings.json in FileManager::configFolder(); nullopt without a home folder.
    static std::optional<std::filesystem::path> defaultPath();

    // The settings of that file (read now); an empty path keeps them in memory only.
    explicit VXUserDefaultManager(std::filesystem::path file);
    VXUserDefaultManager(const VXUserDefaultManager&) = delete;
    VXUserDefaultManager& operator=(const VXUserDefaultManager&) = delete;

    // The value under the key; nullopt when there is none.
    std::optional<nlohmann::json> objectForKey(const std::string& key) const;
    bool setObject(const nlohmann::json& value, const std::string& key);
    // A number under the key, as a float; 0 when there is none.
    float floatForKey(const std::string& key) const;
    bool setFloat(float value, const std::string& key);
    // A boolean under the key, or a number other than 0; false otherwise.
    bool boolForKey(const std::string& key) const;
    bool setBool(bool value, const std::string& key);
    bool removeObjectForKey(const std::string& key);

    const std::filesystem::path& path() const { return file_; }

private:
    static nlohmann::json load(const std::filesystem::path& file);
    // Writes every value to the file; with the lock held, so writes never cross.
    bool save() const;

    const std::filesystem::path file_;
    mutable std::mutex mutex_;
    nlohmann::json values_;
};
