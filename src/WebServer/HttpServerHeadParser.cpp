#include "WebServer/HttpServerHeadParser.h"

#include "WebServer/HttpServerFunctions.h"

#include <algorithm>
#include <strings.h>

namespace {

constexpr std::string_view kHeadEnd = "\r\n\r\n";
// Room on the request line for the method and version around a target of the longest length allowed.
constexpr size_t kMaxRequestLineExtra = 64;

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool isTargetChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F;
}

}  // namespace

HttpServerHeadParser::State HttpServerHeadParser::append(std::span<const uint8_t> bytes)
{
    if (state_ != State::NeedMore)
        return state_;
    buffer_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    // Restart the search a little before the new bytes, in case the blank line straddles pieces.
    const size_t from = scanFrom_ >= kHeadEnd.size() - 1 ? scanFrom_ - (kHeadEnd.size() - 1) : 0;
    // The request line alone may tell that the target is too long, before the head is whole.
    const size_t lineEnd = buffer_.find("\r\n");
    if ((lineEnd == std::string::npos ? buffer_.size() : lineEnd) > kMaxTargetLength + kMaxRequestLineExtra)
        return fail(State::TargetTooLong);
    const size_t end = buffer_.find(kHeadEnd, from);
    if (end == std::string::npos) {
        if (buffer_.size() > maxHeadLength_)
            return fail(State::TooLarge);
        scanFrom_ = buffer_.size();
        return state_;
    }
    const size_t headLength = end + kHeadEnd.size();
    if (headLength > maxHeadLength_)
        return fail(State::TooLarge);
    remainder_.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(headLength), buffer_.end());
    state_ = parse(std::string_view(buffer_).substr(0, end + 2));
    buffer_.clear();
    buffer_.shrink_to_fit();
    return state_;
}

int HttpServerHeadParser::failureStatus() const
{
    switch (state_) {
    case State::TooLarge:
        return 431;
    case State::TargetTooLong:
        return 414;
    case State::Malformed:
        return 400;
    default:
        return 0;
    }
}

HttpServerHeadParser::State HttpServerHeadParser::fail(State state)
{
    state_ = state;
    buffer_.clear();
    buffer_.shrink_to_fit();
    return state_;
}

// `head` holds every line with its CR LF, without the final blank line.
HttpServerHeadParser::State HttpServerHeadParser::parse(std::string_view head)
{
    bool first = true;
    size_t fieldCount = 0;
    while (!head.empty()) {
        const size_t eol = head.find("\r\n");
        const std::string_view line = head.substr(0, eol);
        head.remove_prefix(eol + 2);
        if (line.find_first_of("\r\n") != std::string_view::npos || line.find('\0') != std::string_view::npos)
            return State::Malformed;
        if (first) {
            if (!parseRequestLine(line))
                return targetTooLong_ ? State::TargetTooLong : State::Malformed;
            first = false;
            continue;
        }
        if (++fieldCount > kMaxFieldCount)
            return State::TooLarge;
        if (!addField(line))
            return State::Malformed;
    }
    if (first)
        return State::Malformed;
    // HTTP/1.1 requires "Host" (RFC 9112, 3.2).
    if (http11_ && std::none_of(headers_.begin(), headers_.end(), [](const auto& field) { return sameName(field.first, "Host"); }))
        return State::Malformed;
    return State::Complete;
}

bool HttpServerHeadParser::parseRequestLine(std::string_view line)
{
    const size_t sp1 = line.find(' ');
    if (sp1 == std::string_view::npos)
        return false;
    const size_t sp2 = line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos)
        return false;
    const std::string_view method = line.substr(0, sp1);
    const std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string_view version = line.substr(sp2 + 1);
    if (!HttpServerFunctions::isValidHeaderName(method) || target.empty() || !std::all_of(target.begin(), target.end(), isTargetChar))
        return false;
    if (version != "HTTP/1.1" && version != "HTTP/1.0")
        return false;
    if (target.size() > kMaxTargetLength) {
        targetTooLong_ = true;
        return false;
    }
    http11_ = version == "HTTP/1.1";
    method_ = method;
    target_ = target;
    return true;
}

bool HttpServerHeadParser::addField(std::string_view line)
{
    // Folded continuation lines are obsolete and a known smuggling vector: refuse them.
    if (line.empty() || line.front() == ' ' || line.front() == '\t')
        return false;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return false;
    const std::string_view name = line.substr(0, colon);
    if (!HttpServerFunctions::isValidHeaderName(name))
        return false;
    const std::string value(HttpServerFunctions::trimBlanks(line.substr(colon + 1)));
    const auto existing = std::find_if(headers_.begin(), headers_.end(), [&](const auto& field) { return sameName(field.first, name); });
    if (existing == headers_.end()) {
        headers_.emplace(std::string(name), value);
        return true;
    }
    if (sameName(name, "Host"))
        return false;
    if (sameName(name, "Content-Length"))
        return existing->second == value;
    existing->second += ", " + value;
    return true;
}

bool HttpServerHeadParser::splitTarget(std::string_view target, std::string& path, std::string& query)
{
    if (target.empty())
        return false;
    if (target.front() != '/') {
        const size_t scheme = target.find("://");
        if (scheme == std::string_view::npos)
            return false;
        const size_t slash = target.find('/', scheme + 3);
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
    const size_t mark = target.find('?');
    query = mark == std::string_view::npos ? std::string() : std::string(target.substr(mark + 1));
    const auto decoded = HttpServerFunctions::unescapeURLString(target.substr(0, mark));
    if (!decoded)
        return false;
    path = decoded->empty() ? "/" : *decoded;
    return true;
}
