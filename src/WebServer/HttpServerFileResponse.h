#pragma once

#include "WebServer/HttpServerByteRange.h"
#include "WebServer/HttpServerFunctions.h"
#include "WebServer/HttpServerResponse.h"

// A regular file, whole or one byte range of it, streamed in pieces of at most 32 KiB. The file is
// opened once, at creation, without following a symbolic link in its last component, so what is
// checked is what is sent.
class HttpServerFileResponse : public HttpServerResponse {
public:
    HttpServerFileResponse(int file, std::string path, uint64_t offset, uint64_t size);
    ~HttpServerFileResponse() override;

    // nullptr when the path is no regular file, cannot be opened, or the range selects no byte.
    static std::shared_ptr<HttpServerFileResponse> responseWithFile(const std::string& path, HttpServerByteRange byteRange = {},
                                                                    bool isAttachment = false,
                                                                    const HttpMimeOverrides* mimeTypeOverrides = nullptr);
    static std::shared_ptr<HttpServerFileResponse> responseWithFile(const std::string& path, bool isAttachment);
    // The same for the entry `name` of the open folder `folder` (AT_FDCWD: a path from the working
    // folder); `path` names the file in messages and descriptions.
    static std::shared_ptr<HttpServerFileResponse> responseWithFileAt(int folder, const std::string& name, const std::string& path,
                                                                      HttpServerByteRange byteRange = {}, bool isAttachment = false,
                                                                      const HttpMimeOverrides* mimeTypeOverrides = nullptr);

    bool open(HttpError* error) override;
    Piece readData(HttpError* error) override;
    void close() override;
    std::string description() const override;

protected:
    std::optional<HttpServerFileRegion> fileRegion() const override;

private:
    // The quoted and the UTF-8 escaped file name for "Content-Disposition".
    static std::string attachmentDisposition(const std::string& path);

    std::string path_;
    uint64_t offset_;
    uint64_t size_;
    int file_;
};
