#pragma once

#include "WebServer/HttpServerFolder.h"
#include "WebServer/HttpServerRequest.h"
#include "WebServer/HttpServerResponse.h"

#include <cstdint>
#include <memory>
#include <string>

// Answers GET under a base path from a folder tree: a file (a byte range of it when allowed), the
// folder's index file, or an HTML listing of the folder. Nothing outside the folder is reached.
class HttpServerFolderHandler {
public:
    struct Settings {
        std::string basePath;  // begins and ends with "/"
        std::string indexFilename;  // empty: folders are always listed
        uint64_t cacheAge = 0;
        bool allowRangeRequests = false;
    };

    HttpServerFolderHandler(const std::string& directoryPath, Settings settings);

    // A request for GET under the base path; nullptr for any other.
    std::unique_ptr<HttpServerRequest> match(const std::string& method, const std::string& url, const HttpServerRequest::Headers& headers,
        const std::string& path, const HttpServerRequest::Query& query) const;
    std::shared_ptr<HttpServerResponse> respond(const HttpServerRequest& request) const;

private:
    HttpServerFolder folder_;
    Settings settings_;
};
