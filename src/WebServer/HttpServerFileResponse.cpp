#include "WebServer/HttpServerFileResponse.h"

#include "Utils/Log.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint64_t kPieceSize = 32768;

std::string lastPathComponent(const std::string& path)
{
    std::string_view trimmed(path);
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.remove_suffix(1);
    }
    const size_t slash = trimmed.rfind('/');
    return std::string(slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1));
}

std::string pathExtension(const std::string& path)
{
    const std::string name = lastPathComponent(path);
    const size_t dot = name.rfind('.');
    return (dot == std::string::npos || dot == 0) ? std::string() : name.substr(dot + 1);
}

// The name as ISO Latin-1 characters (kept as UTF-8 text), others as "?"; double quotes and control
// characters are dropped so that the name cannot end the quoted text or the header line.
std::string latin1Name(const std::string& name)
{
    std::string result;
    for (size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x80) {
            if (c >= 0x20 && c != 0x7F && c != '"') {
                result += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        const std::string_view sequence = std::string_view(name).substr(i, length);
        if (sequence.size() == length && HttpServerFunctions::isValidUTF8(sequence)) {
            const bool isLatin1 = length == 2 && (c == 0xC2 || c == 0xC3);
            const bool isControl = c == 0xC2 && static_cast<unsigned char>(name[i + 1]) < 0xA0;
            if (isLatin1 && !isControl) {
                result += sequence;
            } else if (!isLatin1) {
                result += '?';
            }
            i += length;
        } else {
            result += '?';
            ++i;
        }
    }
    return result;
}

}  // namespace

HttpServerFileResponse::HttpServerFileResponse(int file, std::string path, uint64_t offset, uint64_t size)
    : path_(std::move(path)), offset_(offset), size_(size), file_(file)
{
}

HttpServerFileResponse::~HttpServerFileResponse()
{
    close();
}

std::shared_ptr<HttpServerFileResponse> HttpServerFileResponse::responseWithFile(const std::string& path, bool isAttachment)
{
    return responseWithFile(path, HttpServerByteRange{}, isAttachment);
}

std::shared_ptr<HttpServerFileResponse> HttpServerFileResponse::responseWithFile(const std::string& path, HttpServerByteRange byteRange,
                                                                                 bool isAttachment, const HttpMimeOverrides* mimeTypeOverrides)
{
    return responseWithFileAt(AT_FDCWD, path, path, byteRange, isAttachment, mimeTypeOverrides);
}

std::shared_ptr<HttpServerFileResponse> HttpServerFileResponse::responseWithFileAt(int folder, const std::string& name, const std::string& path,
                                                                                   HttpServerByteRange byteRange, bool isAttachment,
                                                                                   const HttpMimeOverrides* mimeTypeOverrides)
{
    // Non-blocking so that a FIFO put in the file's place cannot stall the open.
    const int file = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (file < 0) {
        PLOG_ERRNO("open \"%s\"", path.c_str());
        return nullptr;
    }
    struct stat info {};
    if (fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) {
        PLOG("Not a regular file: \"%s\"", path.c_str());
        ::close(file);
        return nullptr;
    }
    const auto fileSize = static_cast<uint64_t>(info.st_size);
    HttpServerByteRange::Span span{0, fileSize};
    if (byteRange.isSet()) {
        const std::optional<HttpServerByteRange::Span> selected = byteRange.resolve(fileSize);
        if (!selected) {
            ::close(file);
            return nullptr;
        }
        span = *selected;
    }
    auto response = std::make_shared<HttpServerFileResponse>(file, path, span.offset, span.length);
    if (byteRange.isSet()) {
        response->setStatusCode(206);
        response->setValueForAdditionalHeader("Content-Range", "bytes " + std::to_string(span.offset) + "-" +
                                                                   std::to_string(span.offset + span.length - 1) + "/" +
                                                                   std::to_string(fileSize));
    }
    if (isAttachment) {
        response->setValueForAdditionalHeader("Content-Disposition", attachmentDisposition(name));
    }
    response->setContentType(HttpServerFunctions::mimeTypeForExtension(pathExtension(name), mimeTypeOverrides));
    response->setContentLength(span.length);
    response->setLastModifiedDate(Date(std::chrono::duration_cast<Date::duration>(std::chrono::seconds(info.st_mtim.tv_sec) +
                                                                                   std::chrono::nanoseconds(info.st_mtim.tv_nsec))));
    response->setETag(std::to_string(info.st_ino) + "/" + std::to_string(info.st_mtim.tv_sec) + "/" + std::to_string(info.st_mtim.tv_nsec));
    return response;
}

std::string HttpServerFileResponse::attachmentDisposition(const std::string& path)
{
    const std::string name = lastPathComponent(path);
    return "attachment; filename=\"" + latin1Name(name) + "\"; filename*=UTF-8''" + HttpServerFunctions::escapeURLString(name);
}

bool HttpServerFileResponse::open(HttpError* error)
{
    if (file_ < 0) {
        HttpError::assign(error, HttpError::posix(EBADF));
        return false;
    }
    return true;
}

std::optional<HttpServerFileRegion> HttpServerFileResponse::fileRegion() const
{
    if (file_ < 0)
        return std::nullopt;
    return HttpServerFileRegion{file_, offset_, size_};
}

HttpServerBodyReader::Piece HttpServerFileResponse::readData(HttpError* error)
{
    std::vector<uint8_t> piece(static_cast<size_t>(std::min(size_, kPieceSize)));
    if (piece.empty()) {
        return piece;
    }
    // Read at the position kept here: no seek to place the file's own offset first.
    ssize_t count = 0;
    do {
        count = ::pread(file_, piece.data(), piece.size(), static_cast<off_t>(offset_));
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
        HttpError::assign(error, HttpError::posix(errno));
        return std::nullopt;
    }
    piece.resize(static_cast<size_t>(count));
    offset_ += static_cast<uint64_t>(count);
    size_ -= static_cast<uint64_t>(count);
    return piece;
}

void HttpServerFileResponse::close()
{
    if (file_ >= 0) {
        ::close(file_);
        file_ = -1;
    }
}

std::string HttpServerFileResponse::description() const
{
    return HttpServerResponse::description() + "\n\n{" + path_ + "}";
}
