#include "WebServer/HttpServerResponseWriter.h"

#include "Utils/SameThreadCompletion.h"
#include "WebServer/HttpServer.h"
#include "WebServer/HttpServerASCII.h"
#include "WebServer/HttpServerDateCache.h"
#include "WebServer/HttpServerLog.h"

#include <algorithm>
#include <charconv>
#include <chrono>

namespace {

constexpr std::string_view kLastChunk = "0\r\n\r\n";
// A file body up to this (one piece of a file response) is read in; a longer one is sent by the kernel.
constexpr uint64_t kInlineFileLength = 32768;

const char* reasonPhrase(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 207: return "Multi-Status";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 412: return "Precondition Failed";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 416: return "Range Not Satisfiable";
    case 417: return "Expectation Failed";
    case 423: return "Locked";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 507: return "Insufficient Storage";
    default: return status < 300 ? "OK" : status < 500 ? "Client Error" : "Server Error";
    }
}

std::vector<uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

}  // namespace

HttpServerResponseWriter::HttpServerResponseWriter(const HttpServer& server, HttpServerConnectionSocket& socket,
    std::shared_ptr<SerialQueue> queue)
    : server_(server), socket_(socket), queue_(std::move(queue))
{
}

// The fields are views of this frame's texts and of the response's own, so a head costs one buffer.
std::vector<uint8_t> HttpServerResponseWriter::head(int statusCode, const HttpServerResponse* response) const
{
    struct Field {
        std::string_view name;
        std::string_view value;
    };
    constexpr size_t kOwnFields = 9;
    std::vector<Field> fields;
    fields.reserve(kOwnFields + (response ? response->additionalHeaders().size() : 0));
    const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    const HttpServerDateCache::Text date = HttpServerDateCache::rfc822(now);
    fields.push_back({"Connection", "Close"});
    fields.push_back({"Server", server_.serverName()});
    fields.push_back({"Date", date.view()});
    HttpServerDateCache::Text modified;
    std::string cacheControl;
    std::string contentType;
    char length[24];
    if (response) {
        if (const auto& lastModified = response->lastModifiedDate()) {
            modified = HttpServerDateCache::rfc822(std::chrono::floor<std::chrono::seconds>(lastModified->time_since_epoch()).count());
            fields.push_back({"Last-Modified", modified.view()});
        }
        if (response->eTag())
            fields.push_back({"ETag", *response->eTag()});
        if (statusCode >= 200 && statusCode < 300) {
            const uint64_t age = response->cacheControlMaxAge();
            cacheControl = age != 0 ? "max-age=" + std::to_string(age) + ", public" : "no-cache";
            fields.push_back({"Cache-Control", cacheControl});
        }
        if (response->contentType()) {
            contentType = HttpServerFunctions::normalizeHeaderValue(*response->contentType());
            fields.push_back({"Content-Type", contentType});
        }
        if (response->contentLength() != HttpServerResponse::kUnknownLength) {
            const auto end = std::to_chars(std::begin(length), std::end(length), response->contentLength()).ptr;
            fields.push_back({"Content-Length", std::string_view(length, static_cast<size_t>(end - length))});
        }
        if (response->usesChunkedTransferEncoding())
            fields.push_back({"Transfer-Encoding", "chunked"});
        for (const auto& header : response->additionalHeaders()) {
            // A named reference, not a structured binding: clang before 16 cannot capture a binding.
            const auto& name = header.first;
            const auto& value = header.second;
            const auto same = std::find_if(fields.begin(), fields.end(), [&name](const Field& field) {
                return HttpServerASCII::equalsIgnoringCase(field.name, name);
            });
            if (same != fields.end())
                *same = {same->name, value};
            else
                fields.push_back({name, value});
        }
    }
    const std::string_view reason = reasonPhrase(statusCode);
    char status[16];
    const auto statusEnd = std::to_chars(std::begin(status), std::end(status), statusCode).ptr;
    size_t size = 9 + static_cast<size_t>(statusEnd - status) + 1 + reason.size() + 2 + 2;
    for (const Field& field : fields)
        size += field.name.size() + 2 + field.value.size() + 2;
    std::vector<uint8_t> bytes;
    bytes.reserve(size);
    const auto append = [&bytes](std::string_view text) { bytes.insert(bytes.end(), text.begin(), text.end()); };
    append("HTTP/1.1 ");
    append(std::string_view(status, static_cast<size_t>(statusEnd - status)));
    append(" ");
    append(reason);
    append("\r\n");
    for (const Field& field : fields) {
        // The response's setters refuse line breaks; this is the last guard against split heads.
        if (!HttpServerFunctions::isValidHeaderName(field.name) || !HttpServerFunctions::isValidHeaderValue(field.value)) {
            HttpServerLog::log(HttpServerLog::Error, "Dropping unsafe header field '%.*s' on socket %i", static_cast<int>(field.name.size()),
                field.name.data(), socket_.descriptor());
            continue;
        }
        append(field.name);
        append(": ");
        append(field.value);
        append("\r\n");
    }
    append("\r\n");
    return bytes;
}

void HttpServerResponseWriter::writeHead(int statusCode, const HttpServerResponse* response, std::function<void()> onDone)
{
    socket_.write({head(statusCode, response)}, [onDone = std::move(onDone)](bool) { onDone(); });
}

void HttpServerResponseWriter::writeResponse(std::shared_ptr<HttpServerResponse> response, std::weak_ptr<void> owner,
    std::function<void()> onDone)
{
    unsentHead_ = head(response->statusCode(), response.get());
    chunked_ = response->usesChunkedTransferEncoding();
    response_ = std::move(response);
    owner_ = std::move(owner);
    onDone_ = std::move(onDone);
    // A file past one piece goes from the file to the socket in the kernel: no piece is read in and
    // copied out. A smaller one is read, to leave with the head in one call.
    const auto file = chunked_ ? std::nullopt : response_->performFileRegion();
    if (file && file->length > kInlineFileLength) {
        const auto keep = owner_.lock();  // the end of the answer may drop the owner's last other hold
        socket_.write({std::exchange(unsentHead_, {})}, *file, [this](bool) { finish(); });
        return;
    }
    writeBody();
}

// A piece that comes back at once (a file, data in memory) is written in this loop, and the next read
// once it is out: a task per piece would cost a thread hand-off each. A piece that comes later, perhaps
// on another thread, or a write that waits for the socket carries the loop on from the queue.
void HttpServerResponseWriter::writeBody()
{
    const auto keep = owner_.lock();  // the end of the answer may drop the owner's last other hold
    for (;;) {
        auto read = SameThreadCompletion<HttpServerBodyReader::Piece, const HttpError&>::call(
            [this](auto completion) { response_->performReadData(std::move(completion)); },
            [this, keep](HttpServerBodyReader::Piece piece, const HttpError& error) {
                queue_->async([this, keep, piece = std::move(piece), error]() mutable {
                    if (writePiece(std::move(piece), error))
                        writeBody();
                });
            });
        if (!read || !writePiece(std::move(std::get<0>(*read)), std::get<1>(*read)))
            return;
    }
}

bool HttpServerResponseWriter::writePiece(HttpServerBodyReader::Piece piece, const HttpError& error)
{
    if (!socket_.isOpen())
        return false;
    if (!piece) {
        HttpServerLog::log(HttpServerLog::Error, "Failed reading response body for socket %i: %s", socket_.descriptor(),
            error.description.c_str());
        finish();
        return false;
    }
    if (piece->empty()) {
        std::vector<std::vector<uint8_t>> last;
        if (chunked_)
            last.push_back(bytesOf(kLastChunk));
        write(std::move(last), [this](bool) { finish(); });
        return false;
    }
    std::vector<std::vector<uint8_t>> parts;
    if (chunked_) {
        char sizeLine[24];
        const int length = snprintf(sizeLine, sizeof(sizeLine), "%zx\r\n", piece->size());
        parts.emplace_back(sizeLine, sizeLine + length);
        parts.push_back(std::move(*piece));
        parts.push_back(bytesOf("\r\n"));
    } else {
        parts.push_back(std::move(*piece));
    }
    const auto written = SameThreadCompletion<bool>::call([this, &parts](auto completion) { write(std::move(parts), std::move(completion)); },
        [this](bool success) {
            if (success)
                writeBody();
            else
                finish();
        });
    if (!written)
        return false;
    if (!std::get<0>(*written))
        finish();
    return std::get<0>(*written);
}

void HttpServerResponseWriter::write(std::vector<std::vector<uint8_t>> parts, std::function<void(bool success)> onWritten)
{
    if (!unsentHead_.empty())
        parts.insert(parts.begin(), std::exchange(unsentHead_, {}));
    socket_.write(std::move(parts), std::move(onWritten));
}

void HttpServerResponseWriter::finish()
{
    response_->performClose();
    const auto onDone = std::move(onDone_);
    onDone();
}
