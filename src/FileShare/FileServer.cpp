#include "FileShare/FileServer.h"

#include "FileShare/SharedFileCopy.h"
#include "Utils/FileManager.h"
#include "Utils/Locked.h"
#include "Utils/Log.h"
#include "WebServer/HttpServerErrorResponse.h"
#include "WebServer/HttpServerLog.h"
#include "WebServer/WebDavServer.h"

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kServedFolderName = "server";

// The methods that would change the folder: what the TV fetches is nobody's to change or delete.
constexpr const char* kWriteMethods[] = {"PUT", "DELETE", "MKCOL", "COPY", "MOVE", "LOCK", "UNLOCK", "PROPPATCH", "POST"};

std::optional<fs::path> makeServedFolder(const std::optional<fs::path>& cachesFolder)
{
    if (!cachesFolder)
        return FileManager::cacheFileDirWithPath(kServedFolderName);
    if (!FileManager::createDirAtPath(*cachesFolder, kServedFolderName))
        return std::nullopt;
    return *cachesFolder / kServedFolderName;
}

// Handlers added after the WebDAV server's own are tried first, so these take every request they match.
void addSharedFolderHandlers(WebDavServer& server, const fs::path& sharedFolder)
{
    using Request = std::shared_ptr<HttpServerRequest>;
    // The refusal is answered at once: a body sent with it is never read in.
    const HttpServer::RequestFactory refusal = [plain = HttpServer::requestFactory()](auto&&... arguments) {
        auto request = plain(arguments...);
        if (request)
            request->setAnswersBeforeBody(true);
        return request;
    };
    for (const char* method : kWriteMethods) {
        server.addDefaultHandlerForMethod(method, refusal, HttpServer::synchronous([](Request) {
            return HttpServerErrorResponse::responseWithClientError(403, "The shared folder is read-only");
        }));
    }
    // The shared folder asked for by its own file-system path gets no answer, which the connection turns
    // into a 500.
    server.addHandlerForMethod("GET", sharedFolder.string(), HttpServer::requestFactory(),
                               HttpServer::synchronous([](Request) { return std::shared_ptr<HttpServerResponse>(); }));
}

} // namespace

FileServer& FileServer::sharedManager()
{
    HttpServerLog::setLogLevel(HttpServerLog::Info);
    // Never destroyed: files may still be served while the process exits.
    static FileServer* const manager = [] {
        Options options;
        options.keyRequired = true;
        return new FileServer(options);
    }();
    return *manager;
}

HttpServer::Options FileServer::defaultServerOptions()
{
    HttpServer::Options options;
    options.port = 8080;
    options.bonjourName = std::string();
    // The folder serves one TV, which fetches a few files at a time; nobody else on the LAN needs more.
    options.maxConnectionsPerAddress = 8;
    return options;
}

FileServer::FileServer(Options options) : sessionKey_(std::move(options.sessionKey)), keyRequired_(options.keyRequired)
{
    const auto served = makeServedFolder(options.cachesFolder);
    if (!served || !FileManager::createDirAtPath(*served, kSharedFolderName)) {
        PLOG("no shared folder: files cannot be offered");
        return;
    }
    servedFolder_ = *served;
    startServer(options.server);
}

FileServer::~FileServer()
{
    if (davServer_)
        davServer_->stop();
}

void FileServer::startServer(const HttpServer::Options& options)
{
    davServer_ = std::make_shared<WebDavServer>(servedFolder_.string());
    addSharedFolderHandlers(*davServer_, servedFolder_ / kSharedFolderName);
    HttpError error;
    if (!davServer_->start(options, &error))
        PLOG("file server not started on port %u: %s", static_cast<unsigned>(options.port), error.description.c_str());
}

void FileServer::setSessionKeyProvider(SessionKeyProvider provider)
{
    lockedWrite(keyMutex_, sessionKey_, std::move(provider));
}

bool FileServer::isRunning() const
{
    return davServer_ && davServer_->isRunning();
}

std::optional<std::string> FileServer::getServerURL() const
{
    return davServer_ ? davServer_->serverURL() : std::nullopt;
}

std::optional<std::string> FileServer::getShareFileBaseURL() const
{
    const auto url = getServerURL();
    return url ? std::optional(*url + kSharedFolderName) : std::nullopt;
}

bool FileServer::isPlainName(std::string_view name)
{
    return !name.empty() && !name.starts_with('.') && name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::optional<fs::path> FileServer::getUploadPathWithDir(std::string_view dir, std::string_view fileId) const
{
    if (servedFolder_.empty() || !isPlainName(dir) || !isPlainName(fileId))
        return std::nullopt;
    return servedFolder_ / dir / fileId;
}

std::optional<std::string> FileServer::uploadFile(const fs::path& source, std::string_view dir, std::string_view fileId,
                                                  const SharedFileCopy::Progress& progress)
{
    const auto base = getServerURL();
    if (!base) {
        PLOG("error copy file: the file server has no URL");
        return std::nullopt;
    }
    const auto destination = getUploadPathWithDir(dir, fileId);
    if (!destination) {
        PLOG("error copy file: refused folder \"%.*s\" or file id \"%.*s\"", static_cast<int>(dir.size()), dir.data(),
             static_cast<int>(fileId.size()), fileId.data());
        return std::nullopt;
    }
    const std::string url = *base + std::string(dir) + "/" + std::string(fileId);

    SessionKeyProvider provider;
    std::optional<SessionKey> sealed;
    {
        const std::lock_guard lock(keyMutex_);
        provider = sessionKey_;
        if (const auto found = sealedWith_.find(*destination); found != sealedWith_.end())
            sealed = found->second;
    }
    if (!provider && keyRequired_) {
        PLOG("error copy file: %s: no session key is bound yet, and no copy goes out in clear", source.c_str());
        return std::nullopt;
    }
    // Taken before the key is read: a session that ends meanwhile empties the folder, and this copy stays out.
    const uint64_t clears = [this] {
        std::shared_lock lock(folderMutex_);
        return clears_;
    }();
    const SessionKey key = provider ? provider() : nullptr;
    struct stat existing {};
    const bool there = ::lstat(destination->c_str(), &existing) == 0;
    // A copy sealed under another key (an earlier session's) is of no use to the TV: it is sealed again.
    const bool current = sealed && (*sealed == key || (*sealed && key && **sealed == *key));
    if (there && current)
        return url;
    auto copy = SharedFileCopy::write(source, destination->parent_path(), key, progress);
    if (!copy)
        return std::nullopt;
    std::shared_lock lock(folderMutex_);
    if (clears_ != clears) {
        PLOG("error copy file: %s: the shared folder was emptied meanwhile", source.c_str());
        return std::nullopt;
    }
    const auto placed = copy->place(*destination, there);
    if (placed == SharedFileCopy::Placement::Failed)
        return std::nullopt;
    if (placed == SharedFileCopy::Placement::Placed) {
        // The map's insertion is a write too: it happens under the key mutex, not before it.
        const std::lock_guard keyLock(keyMutex_);
        sealedWith_[*destination] = key;
    }
    return url;
}

void FileServer::removeFileByName(std::string_view fileId)
{
    if (const auto path = getUploadPathWithDir(kSharedFolderName, fileId)) {
        FileManager::removeFileAtPath(*path);
        const std::lock_guard lock(keyMutex_);
        sealedWith_.erase(*path);
    }
}

void FileServer::clear()
{
    if (servedFolder_.empty())
        return;
    std::unique_lock lock(folderMutex_);
    ++clears_;
    {
        const std::lock_guard keyLock(keyMutex_);
        sealedWith_.clear();
    }
    FileManager::removeFileAtDirPath(servedFolder_);
    FileManager::createDirAtPath(servedFolder_, kSharedFolderName);
}
