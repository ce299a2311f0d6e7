#pragma once

#include <filesystem>
#include <string>

// Unpacks a downloaded update archive into its own folder with unzip, run by argv. Before anything
// is written every entry is checked: an absolute name, a ".." step or a symbolic link could put a
// file outside the folder, and such an archive is refused whole.
class UpdateArchive {
public:
    // The folder the archive holds the new application in.
    static constexpr const char* kApplicationName = "Pelkor.app";

    // Unpacks folder/archiveName into folder. Empty on success, else why not (the folder may then
    // hold part of the archive; it is ours and goes with the next update).
    static std::string unpack(const std::filesystem::path& folder, const std::string& archiveName);
    // True when the entry name stays inside the folder it is unpacked in.
    static bool staysInside(const std::string& entryName);
};
