#include "Update/UpdateArchive.h"

#include "Utils/Shell.h"

#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The output of unzip with the arguments, or why it failed.
std::optional<std::string> runUnzip(const std::vector<std::string>& arguments, std::string& why)
{
    std::vector<std::string> argv{"unzip"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const auto outcome = Shell::run(argv);
    if (!outcome) {
        why = "unzip cannot be run";
        return std::nullopt;
    }
    if (outcome->exitCode != 0) {
        why = "unzip failed with status " + std::to_string(outcome->exitCode);
        return std::nullopt;
    }
    return outcome->output;
}

} // namespace

bool UpdateArchive::staysInside(const std::string& entryName)
{
    if (entryName.empty() || entryName.front() == '/' || entryName.find('\\') != std::string::npos)
        return false;
    std::istringstream steps(entryName);
    for (std::string step; std::getline(steps, step, '/');) {
        if (step == "..")
            return false;
    }
    return true;
}

std::string UpdateArchive::unpack(const fs::path& folder, const std::string& archiveName)
{
    const std::string archive = (folder / archiveName).string();
    std::string why;
    const auto names = runUnzip({"-Z1", archive}, why);
    if (!names)
        return why;
    std::istringstream lines(*names);
    for (std::string name; std::getline(lines, name);) {
        if (!staysInside(name))
            return "the archive holds an entry outside its folder: " + name;
    }
    // The long listing starts each entry with its mode; 'l' is a symbolic link, which a later entry
    // could write through.
    const auto listing = runUnzip({"-Z", "-s", archive}, why);
    if (!listing)
        return why;
    std::istringstream entries(*listing);
    for (std::string entry; std::getline(entries, entry);) {
        if (!entry.empty() && entry.front() == 'l')
            return "the archive holds a symbolic link";
    }
    if (!runUnzip({"-o", "-qq", archive, "-d", folder.string()}, why))
        return why;
    std::error_code error;
    if (!fs::is_directory(folder / kApplicationName, error))
        return std::string("the archive holds no ") + kApplicationName;
    return {};
}
