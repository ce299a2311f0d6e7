#include "WebServer/HttpServerFileReply.h"

#include "WebServer/HttpServerErrorResponse.h"
#include "WebServer/HttpServerFileResponse.h"

#include <fcntl.h>
#include <sys/stat.h>

std::shared_ptr<HttpServerResponse> HttpServerFileReply::make(const std::string& path, HttpServerByteRange range, bool isAttachment)
{
    return make(AT_FDCWD, path, path, range, isAttachment);
}

std::shared_ptr<HttpServerResponse> HttpServerFileReply::make(const HttpServerFolderPath& path, HttpServerByteRange range, bool isAttachment)
{
    return make(path.parent(), path.entry(), path.absolute(), range, isAttachment);
}

std::shared_ptr<HttpServerResponse> HttpServerFileReply::make(int folder, const std::string& name, const std::string& path,
    HttpServerByteRange range, bool isAttachment)
{
    if (auto response = HttpServerFileResponse::responseWithFileAt(folder, name, path, range, isAttachment))
        return response;
    struct stat info {};
    if (!range.isSet() || ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
        return nullptr;
    auto unsatisfiable = HttpServerErrorResponse::responseWithClientError(416, "The requested range is not satisfiable");
    if (unsatisfiable)
        unsatisfiable->setValueForAdditionalHeader("Content-Range", "bytes */" + std::to_string(info.st_size));
    return unsatisfiable;
}

std::shared_ptr<HttpServerResponse> HttpServerFileReply::makeForRequest(const std::string& path, const HttpServerRequest& request,
    bool isAttachment, bool allowRangeRequests)
{
    return announcingRanges(make(path, allowRangeRequests ? request.byteRange() : HttpServerByteRange{}, isAttachment), allowRangeRequests);
}

std::shared_ptr<HttpServerResponse> HttpServerFileReply::makeForRequest(const HttpServerFolderPath& path, const HttpServerRequest& request,
    bool isAttachment, bool allowRangeRequests)
{
    return announcingRanges(make(path, allowRangeRequests ? request.byteRange() : HttpServerByteRange{}, isAttachment), allowRangeRequests);
}

std::shared_ptr<HttpServerResponse> HttpServerFileReply::announcingRanges(std::shared_ptr<HttpServerResponse> response, bool allowRangeRequests)
{
    if (response && allowRangeRequests && response->statusCode() < 300)
        response->setValueForAdditionalHeader("Accept-Ranges", "bytes");
    return response;
}
