#pragma once

#include "Utils/Error.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Folder and file helpers over the user's caches, settings and downloads folders. Keeps no state.
// Failures are logged and returned as values (nullopt or false); nothing throws.
class FileManager {
public:
    // The user's download folder: $XDG_DOWNLOAD_DIR, else the XDG_DOWNLOAD_DIR entry of
    // $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config), else $HOME/Downloads. Not created here.
    static std::optional<std::filesystem::path> downloadsFolder();
    // The application's own caches folder: $XDG_CACHE_HOME/pelkor (default ~/.cache/pelkor). Not created here.
    static std::optional<std::filesystem::path> cachesFolder();
    // The application's own settings folder: $XDG_CONFIG_HOME/pelkor (default ~/.config/pelkor). Not created here.
    static std::optional<std::filesystem::path> configFolder();
    // The application's own state folder (its log): $XDG_STATE_HOME/pelkor (default
    // ~/.local/state/pelkor). Not created here.
    static std::optional<std::filesystem::path> stateFolder();
    // The user's runtime folder, $XDG_RUNTIME_DIR when it is an absolute path (no default: its
    // private, per-login nature is why it is asked for).
    static std::optional<std::filesystem::path> runtimeFolder();

    // The folder of that name inside the caches folder, made with missing parents when absent.
    static std::optional<std::filesystem::path> cacheFileDirWithPath(std::string_view name);
    // The folder of that name inside the downloads folder, made with missing parents when absent.
    static std::optional<std::filesystem::path> downloadDirWithPath(std::string_view name);
    // Makes folder/name with missing parents when absent; true when it exists as a folder afterwards.
    static bool createDirAtPath(const std::filesystem::path& folder, std::string_view name);
    // Makes the folder when absent, then an empty file of that name in it when absent (an existing
    // file keeps its contents). Returns the file's path.
    static std::optional<std::filesystem::path> createFileAtPath(const std::filesystem::path& folder,
                                                                 std::string_view fileName);
    // fileName inside cacheFileDirWithPath(folderName); the file itself is not made.
    static std::optional<std::filesystem::path> cacheFileWithPath(std::string_view folderName,
                                                                  std::string_view fileName);
    // Removes every entry of the folder (sub-folders with their contents); the folder itself stays.
    // True when the folder is empty afterwards.
    static bool removeFileAtDirPath(const std::filesystem::path& folder);
    // Removes the item (a folder with its contents); true when nothing is left at the path.
    static bool removeFileAtPath(const std::filesystem::path& path);
    // Gives `from` the name `to` (same filesystem) unless something holds that name already, which is
    // left as it is. Nullopt when renamed, else the POSIX error (EEXIST: the name is taken). Nothing
    // is logged.
    static std::optional<Error> renameWithoutReplacing(const std::filesystem::path& from,
                                                       const std::filesystem::path& to);
    // The names of the folder's entries; nullopt when it cannot be read.
    static std::optional<std::vector<std::string>> getFilesFromPath(const std::filesystem::path& folder);
};
