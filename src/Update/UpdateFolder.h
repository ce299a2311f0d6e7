#pragma once

#include <filesystem>
#include <optional>

// The private folders an update is downloaded and unpacked in: made by mkdtemp (mode 0700) under a
// base folder (the system's temporary folder), named "RURerav" with the local date and time and a
// random tail. Only folders that are plainly our own are ever removed: real directories (not links)
// of that name, owned by this user, with mode 0700.
class UpdateFolder {
public:
    static constexpr const char* kPrefix = "RURerav";
    static constexpr const char* kArchiveName = "RURerav.zip";

    // Removes our earlier folders under base, then makes a new one; nullopt (logged) when it cannot.
    static std::optional<std::filesystem::path> make(const std::filesystem::path& base);
    // Removes our earlier folders under base; anything else of that name is left alone.
    static void removeEarlier(const std::filesystem::path& base);
};
