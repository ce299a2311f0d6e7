#include "WebServer/WebDavServer.h"

#include "Platform/FixedWidthQueue.h"
#include "Platform/MainQueue.h"
#include "WebServer/HttpServerDataRequest.h"
#include "WebServer/HttpServerDataResponse.h"
#include "WebServer/HttpServerErrorResponse.h"
#include "WebServer/HttpServerFileRequest.h"
#include "WebServer/HttpServerFileReply.h"
#include "WebServer/HttpServerLog.h"
#include "WebServer/WebDavDestination.h"
#include "WebServer/WebDavFileOperations.h"
#include "WebServer/WebDavMultistatus.h"
#include "WebServer/WebDavReplies.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace WebDavReplies;

namespace {

// Walks of the served tree (a listing, a copy, a move, a delete) may take long: they run on threads
// of their own, two at a time, rather than hold an accept loop or a worker of the shared pool. Made
// once for the process and never destroyed: a walk's completion may hold the last reference to its
// server.
const std::shared_ptr<FixedWidthQueue>& treeWalks()
{
    static const auto* const queue = new std::shared_ptr<FixedWidthQueue>(FixedWidthQueue::create("webdav.tree", 2));
    return *queue;
}

HttpServer::AsyncProcessBlock onTreeWalks(HttpServer::ProcessBlock block)
{
    return [block = std::move(block)](std::shared_ptr<HttpServerRequest> request, HttpServerHandler::Completion completion) {
        treeWalks()->async([block, request = std::move(request), completion = std::move(completion)]() mutable {
            completion(block(std::move(request)));
        });
    };
}

}  // namespace

WebDavServer::WebDavServer(std::string uploadDirectory) : folder_(std::move(uploadDirectory))
{
    // Scratch items left by a process that stopped mid-upload, mid-copy or mid-move are unreachable by
    // any client; an item a move had set aside goes back to its empty place.
    if (const int settled = WebDavFileOperations::recover(folder_, kScratchPrefix))
        HttpServerLog::log(HttpServerLog::Info, "Settled %d unfinished upload(s), copies or moves in \"%s\"", settled, folder_.path().c_str());

    using Request = std::shared_ptr<HttpServerRequest>;
    using Check = Response (WebDavServer::*)(const HttpServerRequest&) const;
    // A request with a body is refused from its head when it can be, before the body is read.
    const auto checked = [this](RequestFactory factory, Check check) -> RequestFactory {
        return [this, factory = std::move(factory), check](const std::string& method, const std::string& url,
                   const HttpServerRequest::Headers& headers, const std::string& path, const HttpServerRequest::Query& query) {
            auto request = factory(method, url, headers, path, query);
            if (request && request->hasBody())
                request->setRefusal((this->*check)(*request));
            return request;
        };
    };
    const RequestFactory xml = [](const std::string& method, const std::string& url, const HttpServerRequest::Headers& headers,
                                   const std::string& path, const HttpServerRequest::Query& query) -> std::unique_ptr<HttpServerRequest> {
        auto request = HttpServerRequest::create<HttpServerDataRequest>(method, url, headers, path, query);
        if (request)
            request->setMaxBodyLength(kMaxXmlBodyLength);
        return request;
    };
    const auto plain = requestFactory();
    // Uploads are received inside the served folder, on its filesystem, so rename(2) can put them in place.
    const RequestFactory upload = [folder = folder_.path()](const std::string& method, const std::string& url,
                                      const HttpServerRequest::Headers& headers, const std::string& path,
                                      const HttpServerRequest::Query& query) -> std::unique_ptr<HttpServerRequest> {
        auto request = HttpServerRequest::create<HttpServerFileRequest>(method, url, headers, path, query);
        if (request)
            request->setTemporaryLocation(folder, kScratchPrefix);
        return request;
    };
    addDefaultHandlerForMethod("PROPFIND", checked(xml, &WebDavServer::propfindRefusal),
        onTreeWalks([this](Request request) { return performPROPFIND(*request); }));
    addDefaultHandlerForMethod("MKCOL", checked(xml, &WebDavServer::mkcolRefusal),
        synchronous([this](Request request) { return performMKCOL(*request); }));
    addDefaultHandlerForMethod("GET", plain, synchronous([this](Request request) { return performGET(*request); }));
    addDefaultHandlerForMethod("DELETE", plain, onTreeWalks([this](Request request) { return performDELETE(*request); }));
    addDefaultHandlerForMethod("PUT", checked(upload, &WebDavServer::putRefusal),
        synchronous([this](Request request) { return performPUT(static_cast<HttpServerFileRequest&>(*request)); }));
    addDefaultHandlerForMethod("COPY", plain, onTreeWalks([this](Request request) { return performCOPY(*request, false); }));
    addDefaultHandlerForMethod("MOVE", plain, onTreeWalks([this](Request request) { return performCOPY(*request, true); }));
    addDefaultHandlerForMethod("LOCK", checked(xml, &WebDavServer::lockRefusal),
        synchronous([this](Request request) { return performLOCK(*request); }));
    addDefaultHandlerForMethod("UNLOCK", plain, synchronous([this](Request request) { return performUNLOCK(*request); }));
    addDefaultHandlerForMethod("OPTIONS", plain, synchronous([this](Request request) { return performOPTIONS(*request); }));
}

void WebDavServer::setDelegate(std::weak_ptr<WebDavServerDelegate> delegate)
{
    delegate_ = delegate;
    HttpServer::setDelegate(std::move(delegate));
}

bool WebDavServer::shouldUploadFileAtPath(const std::string&, const std::string&) { return true; }
bool WebDavServer::shouldMoveItemFromPath(const std::string&, const std::string&) { return true; }
bool WebDavServer::shouldCopyItemFromPath(const std::string&, const std::string&) { return true; }
bool WebDavServer::shouldDeleteItemAtPath(const std::string&) { return true; }
bool WebDavServer::shouldCreateDirectoryAtPath(const std::string&) { return true; }

// ---- Shared checks ----

HttpServerFolderPath WebDavServer::resolve(std::string_view relative) const
{
    return folder_.resolve(relative);
}

WebDavServer::Response WebDavServer::refusal(const HttpServerFolderPath& path)
{
    switch (path.problem()) {
    case HttpServerFolderPath::Problem::Malformed:
        return error(400, "Invalid path " + quoted(path.relative()));
    case HttpServerFolderPath::Problem::Outside:
        return error(403, "Path " + quoted(path.relative()) + " leads outside the upload directory");
    case HttpServerFolderPath::Problem::TooLong:
        return error(414, "Path " + quoted(path.relative().substr(0, 64) + "...") + " is too long");
    case HttpServerFolderPath::Problem::Unsupported:
        return HttpServerErrorResponse::responseWithServerError(500, "Paths cannot be confined to the upload directory on this system");
    case HttpServerFolderPath::Problem::None:
        break;
    }
    return nullptr;
}

WebDavServer::Response WebDavServer::missing(const HttpServerFolderPath& path)
{
    return error(404, quoted(path.relative()) + " does not exist");
}

bool WebDavServer::isHiddenName(const std::string& name) const
{
    return name.starts_with('.') && (!allowHiddenItems_ || name.starts_with(kScratchPrefix));
}

bool WebDavServer::hasAllowedExtension(std::string_view name) const
{
    if (!allowedFileExtensions_)
        return true;
    const size_t dot = name.rfind('.');
    std::string extension = dot == std::string_view::npos || dot == 0 ? std::string() : std::string(name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(allowedFileExtensions_->begin(), allowedFileExtensions_->end(), extension) != allowedFileExtensions_->end();
}

bool WebDavServer::mayServe(const std::string& name, bool isFolder) const
{
    return !isHiddenName(name) && (isFolder || hasAllowedExtension(name));
}

void WebDavServer::notify(std::function<void(WebDavServerDelegate&, WebDavServer&)> call)
{
    // From a handler thread: the delegate hears of it on the main queue, without anyone waiting.
    MainQueue::shared()->async([self = weak_from_this(), delegate = delegate_, call = std::move(call)] {
        const auto server = self.lock();
        const auto target = delegate.lock();
        if (server && target)
            call(*target, static_cast<WebDavServer&>(*server));
    });
}

WebDavFileOperations::Item WebDavServer::at(const HttpServerFolderPath& path)
{
    return {path.parent(), path.entry()};
}

// ---- Methods ----

WebDavServer::Response WebDavServer::performOPTIONS(const HttpServerRequest& request) const
{
    auto response = HttpServerResponse::response();
    response->setValueForAdditionalHeader("DAV", isLockingAgent(request) ? "1, 2" : "1");
    return response;
}

WebDavServer::Response WebDavServer::performGET(const HttpServerRequest& request)
{
    const HttpServerFolderPath path = resolve(request.path());
    if (auto refused = refusal(path))
        return refused;
    if (!path.exists())
        return missing(path);
    const std::string notAllowed = "Downlading item name " + quoted(path.name()) + " is not allowed";
    if (isHiddenName(path.name()))
        return error(403, notAllowed);
    if (path.isFolder())
        return HttpServerResponse::response();
    if (!hasAllowedExtension(path.name()))
        return error(403, notAllowed);
    notify([file = path.absolute()](WebDavServerDelegate& delegate, WebDavServer& server) { delegate.davServerDidDownloadFile(server, file); });
    // Opened through the parent's descriptor without following a link, so a link is never served.
    return HttpServerFileReply::make(path, request.byteRange());
}

WebDavServer::Response WebDavServer::putRefusal(const HttpServerRequest& request) const
{
    const HttpServerFolderPath path = resolve(request.path());
    if (auto refused = refusal(path))
        return refused;
    if (request.hasByteRange())
        return error(400, "Range uploads not supported");
    if (!path.parentIsFolder())
        return error(409, "Missing intermediate collection(s) for " + quoted(path.relative()));
    if (path.exists() && path.isFolder())
        return error(405, "PUT not allowed on existing collection " + quoted(path.relative()));
    if (!mayServe(path.name(), false))
        return error(403, "Uploading file name " + quoted(path.name()) + " is not allowed");
    return preconditionFailure(request, path);
}

WebDavServer::Response WebDavServer::performPUT(HttpServerFileRequest& request)
{
    // Checked again: the folder may have changed while the body arrived.
    if (auto refused = putRefusal(request))
        return refused;
    const HttpServerFolderPath path = resolve(request.path());
    if (!shouldUploadFileAtPath(path.absolute(), request.temporaryPath()))
        return error(403, "Uploading file to " + quoted(path.relative()) + " is not permitted");
    // The upload was received beside the target, so the old file stays whole until rename(2)
    // replaces it in one step.
    const std::string temporary = request.releaseTemporaryPath();
    const WebDavFileOperations::Item upload {folder_.descriptor(), temporary.substr(temporary.rfind('/') + 1)};
    HttpError failure = HttpError::posix(ENOENT);
    if (temporary.empty() || !WebDavFileOperations::moveItem(upload, at(path), scratchFor(path), &failure)) {
        if (!temporary.empty())
            ::unlinkat(upload.folder, upload.name.c_str(), 0);
        return HttpServerErrorResponse::responseWithServerError(500, "Failed moving uploaded file to " + quoted(path.relative()), &failure);
    }
    notify([file = path.absolute()](WebDavServerDelegate& delegate, WebDavServer& server) { delegate.davServerDidUploadFile(server, file); });
    return status(path.exists() ? 204 : 201);
}

WebDavServer::Response WebDavServer::preconditionFailure(const HttpServerRequest& request, const HttpServerFolderPath& path)
{
    HttpServerPreconditions::State state;
    struct statx info {};
    if (path.parentIsFolder() && ::statx(path.parent(), path.entry().c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &info) == 0) {
        state.exists = true;
        state.lastModified = HttpServerFunctions::Date(std::chrono::seconds(info.stx_mtime.tv_sec));
        // The tag a GET of the file carries.
        if (S_ISREG(info.stx_mode))
            state.eTag = std::to_string(info.stx_ino) + "/" + std::to_string(info.stx_mtime.tv_sec) + "/" + std::to_string(info.stx_mtime.tv_nsec);
    }
    if (HttpServerPreconditions::hold(request, state))
        return nullptr;
    return error(412, "Precondition failed for " + quoted(path.relative()));
}

WebDavFileOperations::Scratch WebDavServer::scratchFor(const HttpServerFolderPath& destination)
{
    return {folder_.descriptor(), kScratchPrefix, destination.absolute().substr(std::min(destination.absolute().size(), folder_.path().size() + 1)),
        [this](const std::string& name) { remover_.remove(name); }};
}

WebDavServer::Response WebDavServer::performDELETE(const HttpServerRequest& request)
{
    const HttpServerFolderPath path = resolve(request.path());
    if (auto refused = refusal(path))
        return refused;
    const auto depth = request.headerValue("Depth");
    if (depth && *depth != "infinity")
        return error(400, "Unsupported 'Depth' header: " + *depth);
    if (!path.exists())
        return missing(path);
    if (!mayServe(path.name(), path.isFolder()))
        return error(403, "Deleting item name " + quoted(path.name()) + " is not allowed");
    if (path.isRoot())
        return error(403, "Deleting the upload directory is not allowed");
    if (auto failed = preconditionFailure(request, path))
        return failed;
    if (!shouldDeleteItemAtPath(path.absolute()))
        return error(403, "Deleting " + quoted(path.relative()) + " is not permitted");
    HttpError failure;
    if (!WebDavFileOperations::removeItem(at(path), &failure))
        return HttpServerErrorResponse::responseWithServerError(500, "Failed deleting " + quoted(path.relative()), &failure);
    notify([item = path.absolute()](WebDavServerDelegate& delegate, WebDavServer& server) { delegate.davServerDidDeleteItem(server, item); });
    return status(204);
}

WebDavServer::Response WebDavServer::mkcolRefusal(const HttpServerRequest& request) const
{
    const HttpServerFolderPath path = resolve(request.path());
    if (auto refused = refusal(path))
        return refused;
    if (hasNonEmptyBody(request))
        return error(415, "Unexpected request body for MKCOL method");
    if (!path.parentIsFolder())
        return error(409, "Missing intermediate collection(s) for " + quoted(path.relative()));
    if (isHiddenName(path.name()))
        return error(403, "Creating directory name " + quoted(path.name()) + " is not allowed");
    return nullptr;
}

WebDavServer::Response WebDavServer::performMKCOL(const HttpServerRequest& request)
{
    if (auto refused = mkcolRefusal(request))
        return refused;
    const HttpServerFolderPath path = resolve(request.path());
    if (!shouldCreateDirectoryAtPath(path.absolute()))
        return error(403, "Creating directory " + quoted(path.relative()) + " is not permitted");
    if (path.exists())
        return error(405, "MKCOL not allowed on existing resource " + quoted(path.relative()));
    if (::mkdirat(path.parent(), path.entry().c_str(), 0755) != 0) {
        const HttpError failure = HttpError::posix(errno);
        return HttpServerErrorResponse::responseWithServerError(500, "Failed creating directory " + quoted(path.relative()), &failure);
    }
    notify([folder = path.absolute()](WebDavServerDelegate& delegate, WebDavServer& server) { delegate.davServerDidCreateDirectory(server, folder); });
    return status(201);
}

WebDavServer::Response WebDavServer::performCOPY(const HttpServerRequest& request, bool isMove)
{
    const std::string verb = isMove ? "Moving" : "Copying";
    const HttpServerFolderPath source = resolve(request.path());
    if (auto refused = refusal(source))
        return refused;
    if (!isMove) {
        const auto depth = request.headerValue("Depth");
        if (depth && *depth != "infinity")
            return error(400, "Unsupported 'Depth' header: " + *depth);
    }
    const std::string destinationHeader = request.headerValue("Destination").value_or("");
    const auto destinationText = WebDavDestination::path(destinationHeader, request.headerValue("Host").value_or(""));
    if (!destinationText || destinationText->find('\0') != std::string::npos)
        return error(400, "Malformed 'Destination' header: " + destinationHeader);
    const HttpServerFolderPath destination = resolve(*destinationText);
    if (auto refused = refusal(destination))
        return refused;

    // The source must be there before the destination is looked at, let alone touched.
    if (!source.exists())
        return missing(source);
    if (!destination.parentIsFolder())
        return error(409, "Invalid destination " + quoted(destination.relative()));
    if (!mayServe(source.name(), source.isFolder()))
        return error(403, verb + " from item name " + quoted(source.name()) + " is not allowed");
    if (!mayServe(destination.name(), source.isFolder()))
        return error(403, verb + " to item name " + quoted(destination.name()) + " is not allowed");
    if (destination.isRoot() || (isMove && source.isRoot()))
        return error(403, "The upload directory cannot be moved or replaced");
    if (destination.isWithin(source))
        return error(403, verb + " " + quoted(source.relative()) + " onto or into itself is not allowed");
    // Without "Overwrite" both overwrite, as clients expect of MOVE as much as of COPY.
    if (destination.exists() && request.headerValue("Overwrite") == "F")
        return error(412, "Destination " + quoted(destination.relative()) + " already exists");
    if (auto failed = preconditionFailure(request, source))
        return failed;
    const bool permitted = isMove ? shouldMoveItemFromPath(source.absolute(), destination.absolute())
                                  : shouldCopyItemFromPath(source.absolute(), destination.absolute());
    if (!permitted)
        return error(403, verb + " " + quoted(source.relative()) + " to " + quoted(destination.relative()) + " is not permitted");

    HttpError failure;
    const bool done = isMove ? WebDavFileOperations::moveItem(at(source), at(destination), scratchFor(destination), &failure)
                             : WebDavFileOperations::copyItem(at(source), at(destination), scratchFor(destination), &failure);
    if (!done)
        return error(403, "Failed copying " + quoted(source.relative()) + " to " + quoted(destination.relative()), &failure);
    notify([isMove, from = source.absolute(), to = destination.absolute()](WebDavServerDelegate& delegate, WebDavServer& server) {
        if (isMove)
            delegate.davServerDidMoveItem(server, from, to);
        else
            delegate.davServerDidCopyItem(server, from, to);
    });
    return status(destination.exists() ? 204 : 201);
}

WebDavServer::Response WebDavServer::propfindRefusal(const HttpServerRequest& request) const
{
    if (auto refused = refusal(resolve(request.path())))
        return refused;
    const std::string depth = request.headerValue("Depth").value_or("");
    if (depth != "0" && depth != "1")
        return error(400, "Unsupported 'Depth' header: " + depth);
    return nullptr;
}

WebDavServer::Response WebDavServer::performPROPFIND(const HttpServerRequest& request) const
{
    if (auto refused = propfindRefusal(request))
        return refused;
    const HttpServerFolderPath path = resolve(request.path());
    const std::string depth = request.headerValue("Depth").value_or("");
    const std::vector<uint8_t>& body = bodyOf(request);
    const auto properties = body.empty() ? WebDavXml::Properties::all() : WebDavXml::parsePropfind(body);
    if (!properties)
        return error(400, "Invalid DAV properties:\n" + bodyText(body));
    if (!path.exists())
        return missing(path);
    if (!mayServe(path.name(), path.isFolder()))
        return error(403, "Retrieving properties for item name " + quoted(path.name()) + " is not allowed");
    std::vector<std::string> entries;
    const HttpServerDescriptor folder = path.isFolder() ? path.openFolder() : HttpServerDescriptor();
    if (path.isFolder() && (!folder.isOpen() || !HttpServerFolder::list(folder.get(), entries))) {
        const HttpError failure = HttpError::posix(errno);
        return HttpServerErrorResponse::responseWithServerError(500, "Failed listing directory " + quoted(path.relative()), &failure);
    }

    std::string resource = path.relative();
    if (!resource.starts_with('/'))
        resource.insert(0, "/");
    size_t names = 0;
    for (const std::string& entry : entries)
        names += entry.size();
    WebDavMultistatus answer(*properties, entries.size() + 1, resource.size() * (entries.size() + 1) + names);
    struct statx info {};
    // The name the item is listed under, for the extension rule: empty when the path ends with "/".
    if (statListable(at(path), std::string_view(resource).substr(resource.rfind('/') + 1), info))
        answer.append(WebDavXml::escapeHref(resource), "", info);
    if (depth == "1") {
        if (!resource.ends_with('/'))
            resource += '/';
        const std::string folderHref = WebDavXml::escapeHref(resource);
        for (const std::string& entry : entries) {
            if (!isHiddenName(entry) && statListable({folder.get(), entry}, entry, info))
                answer.append(folderHref, entry, info);
        }
    }
    return std::move(answer).finish();
}

bool WebDavServer::statListable(const WebDavFileOperations::Item& item, std::string_view name, struct statx& info) const
{
    if (::statx(item.folder, item.name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &info) != 0)
        return false;
    // Links and special files are never listed: what a link points to may lie outside the folder.
    return S_ISDIR(info.stx_mode) || (S_ISREG(info.stx_mode) && hasAllowedExtension(name));
}
