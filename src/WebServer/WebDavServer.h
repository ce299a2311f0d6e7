#pragma once

#include "WebServer/HttpServer.h"
#include "WebServer/HttpServerFolder.h"
#include "WebServer/HttpServerPreconditions.h"
#include "WebServer/WebDavFileOperations.h"
#include "WebServer/WebDavScratchRemover.h"
#include "WebServer/WebDavServerDelegate.h"
#include "WebServer/WebDavXml.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

class HttpServerFileRequest;

// Serves one folder, the upload directory, over WebDAV: GET (HEAD), PROPFIND at depth 0 or 1, PUT,
// MKCOL, DELETE, COPY, MOVE, OPTIONS, and LOCK / UNLOCK answered without keeping any lock for the two
// client agents that need them. No request reaches outside the folder, the folder itself is never
// deleted, moved or replaced, and every change lands atomically. Settings are made before start().
class WebDavServer : public HttpServer {
public:
    // Names that begin with this are the server's own scratch items (uploads being received, copies
    // being made, items a move or copy replaced): always hidden, whatever allowHiddenItems() says, and
    // settled when a server is made (an item moved aside by a move that never finished goes back).
    static constexpr const char* kScratchPrefix = ".dav-tmp-";
    // The bodies of PROPFIND, PROPPATCH and LOCK are a few hundred bytes of XML; they are held in memory,
    // so the cap keeps a crowd of connections from filling it.
    static constexpr size_t kMaxXmlBodyLength = 64 * 1024;

    explicit WebDavServer(std::string uploadDirectory);

    std::string className() const override { return "WebDavServer"; }

    const std::string& uploadDirectory() const { return folder_.path(); }
    // Lower-case extensions that files must have; nullopt (the default) allows any. Folders are exempt.
    const std::optional<std::vector<std::string>>& allowedFileExtensions() const { return allowedFileExtensions_; }
    void setAllowedFileExtensions(std::optional<std::vector<std::string>> extensions) { allowedFileExtensions_ = std::move(extensions); }
    // Whether names beginning with "." are served; false by default.
    bool allowHiddenItems() const { return allowHiddenItems_; }
    void setAllowHiddenItems(bool allow) { allowHiddenItems_ = allow; }
    // Also the HttpServer delegate.
    void setDelegate(std::weak_ptr<WebDavServerDelegate> delegate);
    // Waits until the items replaced by moves and copies so far are deleted (for tests and tools).
    void waitForScratchRemoval() { remover_.waitUntilIdle(); }

protected:
    // Permission hooks for subclasses, with absolute paths; each allows by default.
    virtual bool shouldUploadFileAtPath(const std::string& path, const std::string& temporaryFile);
    virtual bool shouldMoveItemFromPath(const std::string& fromPath, const std::string& toPath);
    virtual bool shouldCopyItemFromPath(const std::string& fromPath, const std::string& toPath);
    virtual bool shouldDeleteItemAtPath(const std::string& path);
    virtual bool shouldCreateDirectoryAtPath(const std::string& path);

private:
    using Response = std::shared_ptr<HttpServerResponse>;

    Response performOPTIONS(const HttpServerRequest& request) const;
    Response performGET(const HttpServerRequest& request);
    Response performPUT(HttpServerFileRequest& request);
    // The checks a method makes from the head alone; a refusal is sent before the body is read.
    Response putRefusal(const HttpServerRequest& request) const;
    Response mkcolRefusal(const HttpServerRequest& request) const;
    Response lockRefusal(const HttpServerRequest& request) const; // with LOCK and UNLOCK in WebDavServerLocking.cpp
    // What LOCK and UNLOCK both refuse, for the item at `path` (`method` names the request in the 405).
    Response lockingRefusal(const HttpServerRequest& request, const HttpServerFolderPath& path, std::string_view method) const;
    Response propfindRefusal(const HttpServerRequest& request) const;
    // 412 when the request's preconditions fail for the item at `path`.
    static Response preconditionFailure(const HttpServerRequest& request, const HttpServerFolderPath& path);
    WebDavFileOperations::Scratch scratchFor(const HttpServerFolderPath& destination);
    Response performDELETE(const HttpServerRequest& request);
    Response performMKCOL(const HttpServerRequest& request);
    Response performCOPY(const HttpServerRequest& request, bool isMove);
    Response performPROPFIND(const HttpServerRequest& request) const;
    Response performLOCK(const HttpServerRequest& request) const;
    Response performUNLOCK(const HttpServerRequest& request) const;

    HttpServerFolderPath resolve(std::string_view relative) const;
    static WebDavFileOperations::Item at(const HttpServerFolderPath& path);
    // The answer to a path that holds NUL or leads out of the folder; nullptr for a usable one.
    static Response refusal(const HttpServerFolderPath& path);
    static Response missing(const HttpServerFolderPath& path);
    bool isHiddenName(const std::string& name) const;
    bool hasAllowedExtension(std::string_view name) const;
    // The hidden rule, and the extension rule unless the item is a folder.
    bool mayServe(const std::string& name, bool isFolder) const;
    // Stats the item into `info`; true for what a PROPFIND lists: folders, and regular files whose
    // `name` passes the extension rule.
    bool statListable(const WebDavFileOperations::Item& item, std::string_view name, struct statx& info) const;
    void notify(std::function<void(WebDavServerDelegate&, WebDavServer&)> call);

    HttpServerFolder folder_;
    WebDavScratchRemover remover_{folder_.descriptor()};
    std::optional<std::vector<std::string>> allowedFileExtensions_;
    bool allowHiddenItems_ = false;
    std::weak_ptr<WebDavServerDelegate> delegate_;
};
