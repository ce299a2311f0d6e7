#pragma once

#include "FileShare/SharedFileCopy.h"
#include "Utils/SessionKey.h"
#include "WebServer/HttpServer.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>

class WebDavServer;

// Owner of the shared folder and of the HTTP/WebDAV server through which the TV fetches the files
// offered to it. The served folder is "server" in the application's caches folder, the shared files lie
// in its "fileshare" folder under their file ids. The server only reads: GET, HEAD, OPTIONS and PROPFIND
// are served, every method that would change the folder is refused with 403.
// Every method is safe from any thread.
class FileServer {
public:
    // The link's current session key, null while files go in clear. Called once per copy, on the
    // copying thread; the copy holds the returned reference until it is done.
    using SessionKeyProvider = std::function<SessionKey()>;

    struct Options {
        // The caches folder in which "server" is made; nullopt: FileManager::cachesFolder().
        std::optional<std::filesystem::path> cachesFolder;
        // Port 8080, published under the server name.
        HttpServer::Options server = defaultServerOptions();
        // Empty: every copy is plain, unless keyRequired.
        SessionKeyProvider sessionKey;
        // No copy is made until a provider is bound, so none can go out in clear by mistake.
        bool keyRequired = false;
    };

    // The process-wide server on port 8080 over the user's caches folder, made on first use; the
    // application then binds its session key with setSessionKeyProvider, and no copy is made before. Every call sets the HTTP
    // server's log level to INFO.
    static FileServer& sharedManager();

    // Makes the served folder and "fileshare" in it, and starts the server. A server that cannot start
    // (the port is taken) is logged and the object works on without it: isRunning() is false and no URL
    // is given.
    explicit FileServer(Options options);
    ~FileServer();
    FileServer(const FileServer&) = delete;
    FileServer& operator=(const FileServer&) = delete;

    void setSessionKeyProvider(SessionKeyProvider provider);
    bool isRunning() const;

    // The served folder; empty when it could not be made.
    const std::filesystem::path& getUploadPath() const { return servedFolder_; }
    // The server's "http://address:port/"; nullopt when it is not running or the host has no IPv4 address.
    std::optional<std::string> getServerURL() const;
    // The server's URL followed by "fileshare": the base the TV puts "/" and a file id after.
    std::optional<std::string> getShareFileBaseURL() const;
    // served folder / dir / fileId; nullopt unless both are plain names (see isPlainName).
    std::optional<std::filesystem::path> getUploadPathWithDir(std::string_view dir, std::string_view fileId) const;

    // Copies `source` into served folder / dir under `fileId` (dir is "fileshare" for the file panel):
    // encrypted as an EncryptedFrame when the session has a key, else plain. Streams the file, so any
    // size fits in a fixed amount of memory. A file already under that id is left as it is when this
    // server sealed it under the current key, else replaced by a copy sealed under it. Returns the
    // URL under which the TV fetches the file, "<server URL><dir>/<fileId>", when the file is in place;
    // nullopt (logged) when it is not (refused names, a failed copy, which leaves no partial file, a
    // clear() while it ran) or the server has no URL. Blocking; runs on the caller's thread, and several
    // may run at once. `progress` hears the bytes copied, on the copy's own thread; a file already in
    // place is not copied, so it hears nothing.
    std::optional<std::string> uploadFile(const std::filesystem::path& source, std::string_view dir, std::string_view fileId,
                                          const SharedFileCopy::Progress& progress = {});
    // Removes the shared file of that id, when there is one.
    void removeFileByName(std::string_view fileId);
    // Empties the served folder and makes "fileshare" in it again. A copy still running when this
    // starts is not placed.
    void clear();

    // A name that stays one entry of its folder: not empty, no "/" or NUL, and not beginning with "."
    // (which also rules out "." and "..", and hidden names the server never serves).
    static bool isPlainName(std::string_view name);

    static constexpr const char* kSharedFolderName = "fileshare";

private:
    static HttpServer::Options defaultServerOptions();
    void startServer(const HttpServer::Options& options);

    std::filesystem::path servedFolder_;
    std::shared_ptr<WebDavServer> davServer_;  // null when the served folder could not be made

    mutable std::mutex keyMutex_;
    SessionKeyProvider sessionKey_;
    const bool keyRequired_;
    // The key each shared file was sealed under (null: plain), by its path; under keyMutex_.
    std::map<std::filesystem::path, SessionKey> sealedWith_;

    // Shared by copies while they check for a clear() and take their name, held alone by clear().
    std::shared_mutex folderMutex_;
    uint64_t clears_ = 0;
};
