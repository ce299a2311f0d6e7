#pragma once

#include "WebServer/HttpServerByteRange.h"
#include "WebServer/HttpServerFolderPath.h"
#include "WebServer/HttpServerRequest.h"
#include "WebServer/HttpServerResponse.h"

#include <memory>
#include <string>

// The answer to a GET of one file: the file, or the part of it that the byte range selects. A range
// that selects nothing of an existing regular file answers 416 with "Content-Range: bytes */LENGTH",
// so a client that resumes a complete download learns that it is complete.
class HttpServerFileReply {
public:
    // nullptr when the path is no regular file or cannot be opened.
    static std::shared_ptr<HttpServerResponse> make(const std::string& path, HttpServerByteRange range, bool isAttachment = false);
    // The item of a served folder, opened through its parent's descriptor.
    static std::shared_ptr<HttpServerResponse> make(const HttpServerFolderPath& path, HttpServerByteRange range, bool isAttachment = false);
    // The file, or the byte range of it that the request asks for when ranges are allowed (then
    // announced with "Accept-Ranges"); 416 as make(), any other failure nullptr.
    static std::shared_ptr<HttpServerResponse> makeForRequest(const std::string& path, const HttpServerRequest& request, bool isAttachment,
        bool allowRangeRequests);
    static std::shared_ptr<HttpServerResponse> makeForRequest(const HttpServerFolderPath& path, const HttpServerRequest& request,
        bool isAttachment, bool allowRangeRequests);

private:
    // The entry `name` of the open folder `folder` (AT_FDCWD: a path), `path` naming it in messages.
    static std::shared_ptr<HttpServerResponse> make(int folder, const std::string& name, const std::string& path, HttpServerByteRange range,
        bool isAttachment);
    static std::shared_ptr<HttpServerResponse> announcingRanges(std::shared_ptr<HttpServerResponse> response, bool allowRangeRequests);
};
