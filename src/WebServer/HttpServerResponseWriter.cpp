#include "WebServer/HttpServerResponseWriter.h"

#include "Utils/SameThreadCompletion.h"
#include "WebServer/HttpServer.h"
#include "WebServer/HttpServerLog.h"

#include <algorithm>
#include <strings.h>

namespace {

constexpr std::string_view kLastChunk = "0\r\n\r\n";

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

std::string HttpServerResponseWriter::headText(int statusCode, const HttpServerResponse* response) const
{
    std::vector<std::pair<std::string, std::string>> fields = {
        {"Connection", "Close"},
        {"Server", server_.serverName()},
        {"Date", HttpServerFunctions::formatRFC822Date(std::chrono::system_clock::now())},
    };
    if (response) {
        if (response->lastModifiedDate())
            fields.emplace_back("Last-Modified", HttpServerFunctions::formatRFC822Date(*response->lastModifiedDate()));
        if (response->eTag())
            fields.emplace_back("ETag", *response->eTag());
        if (statusCode >= 200 && statusCode < 300) {
            const uint64_t age = response->cacheControlMaxAge();
            fields.emplace_back("Cache-Control", age != 0 ? "max-age=" + std::to_string(age) + ", public" : "no-cache");
        }
        if (response->contentType())
            fields.emplace_back("Content-Type", HttpServerFunctions::normalizeHeaderValue(*response->contentType()));
        if (response->contentLength() != HttpServerResponse::kUnknownLength)
            fields.emplace_back("Content-Length", std::to_string(response->contentLength()));
        if (response->usesChunkedTransferEncoding())
            fields.emplace_back("Transfer-Encoding", "chunked");
        for (const auto& additional : response->additionalHeaders()) {
            const auto same = std::find_if(fields.begin(), fields.end(), [&additional](const auto& field) {
                return strcasecmp(field.first.c_str(), additional.first.c_str()) == 0;
            });
            if (same != fields.end())
                same->second = additional.second;
            else
                fields.push_back(additional);
        }
    }
    std::string head = "HTTP/1.1 " + std::to_string(statusCode) + " " + reasonPhrase(statusCode) + "\r\n";
    for (const auto& [name, value] : fields) {
        // The response's setters refuse line breaks; this is the last guard against split heads.
        if (!HttpServerFunctions::isValidHeaderName(name) || !HttpServerFunctions::isValidHeaderValue(value)) {
            HttpServerLog::log(HttpServerLog::Error, "Dropping unsafe header field '%s' on socket %i", name.c_str(), socket_.descriptor());
            continue;
        }
        head += name + ": " + value + "\r\n";
    }
    head += "\r\n";
    return head;
}

void HttpServerResponseWriter::writeHead(int statusCode, const HttpServerResponse* response, std::function<void()> onDone)
{
    socket_.write({bytesOf(headText(statusCode, response))}, [onDone = std::move(onDone)](bool) { onDone(); });
}

void HttpServerResponseWriter::writeResponse(std::shared_ptr<HttpServerResponse> response, std::weak_ptr<void> owner,
    std::function<void()> onDone)
{
    unsentHead_ = bytesOf(headText(response->statusCode(), response.get()));
    chunked_ = response->usesChunkedTransferEncoding();
    response_ = std::move(response);
    owner_ = std::move(owner);
    onDone_ = std::move(onDone);
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
