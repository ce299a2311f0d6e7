#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// The user's default sink and source, kept in a file while the loopback device stands in for them, so
// a run that ends without putting them back (a crash, a kill) lets the next run repair them. Each
// write replaces the file whole (a new file renamed over the old), so a reader never sees half of one.
// Used from one thread at a time.
class SoundDeviceRecord {
public:
    struct Devices {
        std::optional<std::string> sink;
        std::optional<std::string> source;
        bool operator==(const Devices&) const = default;
    };

    // A file is never read past this: two device names and their keys fit many times over.
    static constexpr std::uintmax_t kMaxFileSize = 4096;
    // The sound server's names are far shorter; a longer one is no name it gave.
    static constexpr size_t kMaxNameLength = 1024;

    // "sound-devices" in the program's state folder; nullopt without a home folder.
    static std::optional<std::filesystem::path> defaultPath();

    explicit SoundDeviceRecord(std::filesystem::path file);

    // False when the file cannot be written (logged).
    bool save(const Devices& devices) const;
    // Nullopt when there is no record; a file too long or with a line that names no device counts as
    // none (logged), so it is never applied.
    std::optional<Devices> load() const;
    void clear() const;
    const std::filesystem::path& file() const { return file_; }

private:
    std::filesystem::path file_;
};
