#pragma once

#include <filesystem>
#include <optional>

// One copy of the application per user at a time: the first copy holds an exclusive lock on a file of
// the user's for its whole life, a later copy finds the lock taken. The file is private to the user
// (mode 0600, in $XDG_RUNTIME_DIR, else the application's caches folder) and never followed through a
// symbolic link, so no other user can hold the lock or point it elsewhere. Nothing is written to it.
// Main thread.
class SingletonApp {
public:
    static constexpr const char* kLockFileName = "pelkor.lock";

    // Takes the lock on lockFilePath(): true when this process holds it (also when it held it already).
    static bool cansingletonApp();
    // The same on a file of the caller's choice (tests).
    static bool cansingletonApp(const std::filesystem::path& lockFile);
    // Releases the lock and closes the file, when held. Called before the application restarts itself.
    static void unsingletonApp();
    // The descriptor holding the lock; -1 when none does. 0 is a valid descriptor.
    static int lockDescriptor();

    // $XDG_RUNTIME_DIR/pelkor.lock when that variable names an absolute folder, else pelkor.lock in
    // the caches folder (made when missing); nullopt when neither exists.
    static std::optional<std::filesystem::path> lockFilePath();
};
