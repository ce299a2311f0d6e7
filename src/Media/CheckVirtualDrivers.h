#pragma once

#include <atomic>
#include <compare>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// Compares the installed virtual speaker, microphone and camera drivers with the copies shipped
// among the application's resources, once, when created, and on request runs the install script for
// those that are missing or older. A driver here is a folder named like its bundle, holding
// Contents/Info.json whose "CFBundleShortVersionString" is its version.
class CheckVirtualDrivers {
public:
    struct Folders {
        std::filesystem::path installed;  // the installed drivers
        std::filesystem::path resources;  // the install script, and the shipped drivers under drivers/
    };

    static constexpr const char* kSpeakerDriver = "ROZIAudio2.driver";
    static constexpr const char* kMicrophoneDriver = "ROZIAudio.driver";
    static constexpr const char* kCameraPlugin = "rozi-mac-virtualcam.plugin";
    static constexpr const char* kInstallScript = "installVirtualDrivers.sh";
    static constexpr const char* kVersionKey = "CFBundleShortVersionString";

    // Installed drivers under $XDG_DATA_HOME/pelkor/drivers (default ~/.local/share/pelkor/drivers),
    // the application's resources folder (AppInfo).
    static Folders defaultFolders();

    // Checks the default folders, with the relay switched by the application's "EnableROZI".
    CheckVirtualDrivers();
    // Runs the three checks, in the order speaker, microphone, camera.
    CheckVirtualDrivers(Folders folders, bool relayEnabled);

    // The speaker (loopback) driver is installed and not older than the shipped copy.
    bool checkVirtualDrivers() const;
    // The same for the microphone driver and the camera plug-in; true when the relay is off.
    bool checkMicrophone() const;
    bool checkCameraPlugin() const;

    // The value under key in the JSON object at path; nullopt when it cannot be read or lacks the key.
    static std::optional<nlohmann::json> readInfoPath(const std::filesystem::path& path, const std::string& key);
    bool activeROZI() const { return relayEnabled_; }

    // Runs the install script with the resources folder and "YES"/"NO" for speaker, microphone and
    // camera, and waits for it. Its outcome is not reported: the next launch's checks notice it.
    // Blocks the calling thread until the script ends: never the main queue's (asserted).
    void installPlugin() const;

    bool hasSpeaker() const { return hasSpeaker_; }
    bool hasMicrophone() const { return hasMicrophone_; }
    bool hasCamera() const { return hasCamera_; }
    void setHasSpeaker(bool value) { hasSpeaker_ = value; }
    void setHasMicrophone(bool value) { hasMicrophone_ = value; }
    void setHasCamera(bool value) { hasCamera_ = value; }

    // Dotted versions compared number by number ("1.10" > "1.9"); missing trailing numbers count as
    // 0 ("2" == "2.0"). nullopt unless both are digit runs separated by single dots.
    static std::optional<std::strong_ordering> compareVersions(std::string_view a, std::string_view b);

private:
    // What a shipped copy without a version means: current (the speaker) or not (the others).
    enum class MissingCopyVersion { Current, NotCurrent };
    bool checkDriver(const char* name, MissingCopyVersion missingCopyVersion) const;

    Folders folders_;
    bool relayEnabled_;
    // Set on the main thread at launch, read by the installation on a background thread.
    std::atomic<bool> hasSpeaker_;
    std::atomic<bool> hasMicrophone_;
    std::atomic<bool> hasCamera_;
};
