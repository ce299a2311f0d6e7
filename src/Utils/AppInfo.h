#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

// The application's information keys, read from the JSON file shipped among its resources
// ("Info.json"). The file is looked for at $PELKOR_INFO (tests point it elsewhere), then next to the
// executable under ../share/pelkor, then in the source tree's resources folder; the folder it is
// found in is the application's resources folder. Immutable once read, so safe from any thread.
class AppInfo {
public:
    static constexpr const char* kFileName = "Info.json";

    // The keys of the file found as above, read once on first use; built-in values when none is found.
    static const AppInfo& main();
    // The keys of that file, its folder as the resources folder; built-in values for a missing or
    // unreadable file.
    static AppInfo fromFile(const std::filesystem::path& file);
    // The JSON object in a small file; nullopt (logged) when it is missing, too large or not an object.
    static std::optional<nlohmann::json> readInfoFile(const std::filesystem::path& file);

    // "EnableROZI": the camera and microphone relay is on. A file without the key (or with a value
    // that is not a boolean) turns it off.
    bool enableROZI() const { return enableROZI_; }
    // "CFBundleExecutable": the application's executable name.
    const std::string& bundleExecutable() const { return bundleExecutable_; }
    // "CFBundleShortVersionString": the application's version.
    const std::string& shortVersionString() const { return shortVersionString_; }
    // "PKUpdateHost": the host of the update service; empty (no key) means no update is offered.
    const std::string& updateHost() const { return updateHost_; }
    // "PKUpdatePort" (8502 without the key) and "PKUpdatePath" ("/mirovan/getversion").
    int updatePort() const { return updatePort_; }
    const std::string& updatePath() const { return updatePath_; }
    // The folder holding the application's resources, ending in "/".
    const std::filesystem::path& resourcesFolder() const { return resourcesFolder_; }

private:
    explicit AppInfo(std::filesystem::path resourcesFolder);
    static std::filesystem::path locate();

    bool enableROZI_ = true;
    std::string bundleExecutable_;
    std::string shortVersionString_;
    std::string updateHost_;
    int updatePort_ = 8502;
    std::string updatePath_ = "/mirovan/getversion";
    std::filesystem::path resourcesFolder_;
};
