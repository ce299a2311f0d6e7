#include "WebServer/WebDavServer.h"

#include "WebServer/HttpServerDataResponse.h"
#include "WebServer/HttpServerLog.h"
#include "WebServer/WebDavReplies.h"

#include <uuid/uuid.h>

// LOCK and UNLOCK, answered for the two client agents that need them without keeping any lock.

using namespace WebDavReplies;

namespace {

std::string newUUID()
{
    uuid_t uuid;
    uuid_generate_random(uuid);
    char text[37];
    uuid_unparse_upper(uuid, text);
    return text;
}

}  // namespace

WebDavServer::Response WebDavServer::lockingRefusal(const HttpServerRequest& request, const HttpServerFolderPath& path,
                                                    std::string_view method) const
{
    if (auto refused = refusal(path))
        return refused;
    if (!isLockingAgent(request))
        return error(405, std::string(method) + " method only allowed for Mac Finder");
    if (!path.exists())
        return missing(path);
    return nullptr;
}

WebDavServer::Response WebDavServer::lockRefusal(const HttpServerRequest& request) const
{
    return lockingRefusal(request, resolve(request.path()), "LOCK");
}

WebDavServer::Response WebDavServer::performLOCK(const HttpServerRequest& request) const
{
    const HttpServerFolderPath path = resolve(request.path());
    if (auto refused = lockingRefusal(request, path, "LOCK"))
        return refused;
    const std::vector<uint8_t>& body = bodyOf(request);
    const auto lock = WebDavXml::parseLockInfo(body);
    if (!lock)
        return error(400, "Invalid DAV properties:\n" + bodyText(body));
    const std::string depth = request.headerValue("Depth").value_or("");
    if (lock->scope != "exclusive" || lock->type != "write" || depth != "0")
        return error(403, "Locking request " + quoted(lock->scope + "/" + lock->type + "/" + depth) + " for " + quoted(path.relative())
            + " is not allowed");
    if (!mayServe(path.name(), path.isFolder()))
        return error(403, "Locking item name " + quoted(path.name()) + " is not allowed");

    const std::string root = "http://" + request.headerValue("Host").value_or("") + "/" + path.relative();
    std::string xml = std::string(WebDavXml::kDeclaration) + "<D:prop xmlns:D=\"DAV:\">\n<D:lockdiscovery>\n<D:activelock>\n";
    xml += "<D:locktype><D:" + lock->type + "/></D:locktype>\n";
    xml += "<D:lockscope><D:" + lock->scope + "/></D:lockscope>\n";
    xml += "<D:depth>" + depth + "</D:depth>\n";
    if (lock->owner)
        xml += "<D:owner><D:href>" + HttpServerFunctions::escapeHTML(*lock->owner) + "</D:href></D:owner>\n";
    if (const auto timeout = request.headerValue("Timeout"))
        xml += "<D:timeout>" + HttpServerFunctions::escapeHTML(*timeout) + "</D:timeout>\n";
    xml += "<D:locktoken><D:href>urn:uuid:" + newUUID() + "</D:href></D:locktoken>\n";
    xml += "<D:lockroot><D:href>" + HttpServerFunctions::escapeHTML(root) + "</D:href></D:lockroot>\n";
    xml += "</D:activelock>\n</D:lockdiscovery>\n</D:prop>";
    HttpServerLog::log(HttpServerLog::Verbose, "WebDAV pretending to lock \"%s\"", path.relative().c_str());
    return HttpServerDataResponse::responseWithData(std::vector<uint8_t>(xml.begin(), xml.end()), WebDavXml::kContentType);
}

WebDavServer::Response WebDavServer::performUNLOCK(const HttpServerRequest& request) const
{
    const HttpServerFolderPath path = resolve(request.path());
    if (auto refused = lockingRefusal(request, path, "UNLOCK"))
        return refused;
    if (request.headerValue("Lock-Token").value_or("").empty())
        return error(400, "Missing 'Lock-Token' header");
    if (!mayServe(path.name(), path.isFolder()))
        return error(403, "Unlocking item name " + quoted(path.name()) + " is not allowed");
    HttpServerLog::log(HttpServerLog::Verbose, "WebDAV pretending to unlock \"%s\"", path.relative().c_str());
    return status(204);
}
