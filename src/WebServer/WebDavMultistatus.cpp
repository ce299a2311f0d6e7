#include "WebServer/WebDavMultistatus.h"

#include "WebServer/HttpServerDateCache.h"

#include <array>
#include <charconv>
#include <utility>

namespace {

constexpr std::string_view kOpening = "<D:multistatus xmlns:D=\"DAV:\">\n";
constexpr std::string_view kTail = "</D:multistatus>";
// A response with every property, less its href.
constexpr size_t kResponseBytes = 400;

// The body is read once, so its pieces move out whole: the answer to a large folder is not copied
// again. The connection writes the head with the first piece in one send, copying that piece to do
// so, so the first piece is only the opening and the listing follows on its own.
class Response final : public HttpServerResponse {
public:
    Response(std::vector<uint8_t> opening, std::vector<uint8_t> listing) : pieces_ {std::move(opening), std::move(listing)}
    {
        setStatusCode(207);
        setContentType(WebDavXml::kContentType);
        setContentLength(pieces_[0].size() + pieces_[1].size());
    }
    Piece readData(HttpError*) override
    {
        return next_ < pieces_.size() ? std::move(pieces_[next_++]) : std::vector<uint8_t>();
    }

private:
    std::array<std::vector<uint8_t>, 2> pieces_;
    size_t next_ = 0;
};

}  // namespace

WebDavMultistatus::WebDavMultistatus(WebDavXml::Properties properties, size_t entries, size_t hrefBytes)
    : properties_(properties)
{
    bytes_.reserve(entries * kResponseBytes + hrefBytes + kTail.size());
}

void WebDavMultistatus::append(std::string_view escapedFolder, std::string_view name, const struct statx& info)
{
    const bool isFolder = S_ISDIR(info.stx_mode);
    write("<D:response><D:href>");
    write(escapedFolder);
    write(WebDavXml::escapeHref(name));
    write("</D:href><D:propstat><D:prop>");
    if (properties_.resourceType)
        write(isFolder ? "<D:resourcetype><D:collection/></D:resourcetype>" : "<D:resourcetype/>");
    if (properties_.creationDate && (info.stx_mask & STATX_BTIME)) {
        write("<D:creationdate>");
        write(HttpServerDateCache::iso8601(info.stx_btime.tv_sec).view());
        write("</D:creationdate>");
    }
    if (properties_.lastModified && S_ISREG(info.stx_mode)) {
        write("<D:getlastmodified>");
        write(HttpServerDateCache::rfc822(info.stx_mtime.tv_sec).view());
        write("</D:getlastmodified>");
    }
    if (properties_.contentLength && !isFolder) {
        char digits[24];
        const auto end = std::to_chars(std::begin(digits), std::end(digits), info.stx_size).ptr;
        write("<D:getcontentlength>");
        write(std::string_view(digits, static_cast<size_t>(end - digits)));
        write("</D:getcontentlength>");
    }
    write("</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>\n");
}

std::shared_ptr<HttpServerResponse> WebDavMultistatus::finish() &&
{
    write(kTail);
    std::vector<uint8_t> opening(WebDavXml::kDeclaration.begin(), WebDavXml::kDeclaration.end());
    opening.insert(opening.end(), kOpening.begin(), kOpening.end());
    return std::make_shared<Response>(std::move(opening), std::move(bytes_));
}

void WebDavMultistatus::write(std::string_view text)
{
    bytes_.insert(bytes_.end(), text.begin(), text.end());
}
