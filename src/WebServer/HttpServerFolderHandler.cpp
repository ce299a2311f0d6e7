#include "WebServer/HttpServerFolderHandler.h"

#include "WebServer/HttpServerDataResponse.h"
#include "WebServer/HttpServerErrorResponse.h"
#include "WebServer/HttpServerFileReply.h"
#include "WebServer/HttpServerFileResponse.h"
#include "WebServer/HttpServerFunctions.h"

#include <algorithm>
#include <fcntl.h>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

// The listing of the folder; nullptr when it cannot be read.
std::shared_ptr<HttpServerResponse> directoryListing(const HttpServerFolderPath& path)
{
    const HttpServerDescriptor directory = path.openFolder();
    std::vector<std::string> names;
    if (!directory.isOpen() || !HttpServerFolder::list(directory.get(), names))
        return nullptr;
    std::vector<std::pair<std::string, bool>> entries;  // name, is a folder
    for (const std::string& entry : names) {
        struct stat info {};
        if (entry[0] == '.' || ::fstatat(directory.get(), entry.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))
            entries.emplace_back(entry, S_ISDIR(info.st_mode));
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return strcasecmp(a.first.c_str(), b.first.c_str()) < 0; });
    std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"></head><body>\n<ul>\n";
    for (const auto& [entry, isFolder] : entries) {
        const std::string link = HttpServerFunctions::escapeURLString(entry) + (isFolder ? "/" : "");
        html += "<li><a href=\"" + link + "\">" + HttpServerFunctions::escapeHTML(entry) + (isFolder ? "/" : "") + "</a></li>\n";
    }
    html += "</ul>\n</body></html>\n";
    return HttpServerDataResponse::responseWithHTML(html);
}

}  // namespace

HttpServerFolderHandler::HttpServerFolderHandler(const std::string& directoryPath, Settings settings)
    : folder_(directoryPath), settings_(std::move(settings))
{
}

std::unique_ptr<HttpServerRequest> HttpServerFolderHandler::match(const std::string& method, const std::string& url,
    const HttpServerRequest::Headers& headers, const std::string& path, const HttpServerRequest::Query& query) const
{
    if (method != "GET" || path.compare(0, settings_.basePath.size(), settings_.basePath) != 0)
        return nullptr;
    return HttpServerRequest::create(method, url, headers, path, query);
}

std::shared_ptr<HttpServerResponse> HttpServerFolderHandler::respond(const HttpServerRequest& request) const
{
    const HttpServerFolderPath path = folder_.resolve(std::string_view(request.path()).substr(settings_.basePath.size()));
    if (path.problem() == HttpServerFolderPath::Problem::Malformed)
        return HttpServerErrorResponse::responseWithClientError(400, "Invalid path \"" + request.path() + "\"");
    if (path.problem() == HttpServerFolderPath::Problem::TooLong)
        return HttpServerErrorResponse::responseWithClientError(414, "Path too long");
    // Everything is reached through the parent's descriptor, so no link leads out of the folder.
    std::shared_ptr<HttpServerResponse> response;
    if (path.exists() && path.isFolder()) {
        const HttpServerDescriptor folder = path.openFolder();
        struct stat indexInfo {};
        if (!settings_.indexFilename.empty() && folder.isOpen()
            && ::fstatat(folder.get(), settings_.indexFilename.c_str(), &indexInfo, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(indexInfo.st_mode))
            return HttpServerFileResponse::responseWithFileAt(folder.get(), settings_.indexFilename, path.absolute() + "/" + settings_.indexFilename);
        response = directoryListing(path);
    } else if (path.exists()) {
        response = HttpServerFileReply::makeForRequest(path, request, false, settings_.allowRangeRequests);
        if (response && response->statusCode() >= 300)
            return response;
    }
    if (!response)
        return HttpServerErrorResponse::responseWithClientError(404, "\"" + request.path() + "\" does not exist");
    response->setCacheControlMaxAge(settings_.cacheAge);
    return response;
}
