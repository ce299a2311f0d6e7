#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Collects and parses an HTTP/1.x request head pushed in pieces of any size. The head is capped
// (too long or too many fields: 431; a request target past its own cap: 414) and anything that does
// not frame cleanly is malformed (400): a bad request line, a field without a token name, a folded
// continuation line, a bare CR or LF, duplicate "Host" or none in HTTP/1.1, or "Content-Length"
// fields that disagree.
class HttpServerHeadParser {
public:
    static constexpr size_t kDefaultMaxHeadLength = 32 * 1024;
    static constexpr size_t kMaxFieldCount = 100;
    // As common servers allow; a path of the served folders is shorter still (PATH_MAX, 4096).
    static constexpr size_t kMaxTargetLength = 8192;

    enum class State { NeedMore, Complete, TooLarge, TargetTooLong, Malformed };

    explicit HttpServerHeadParser(size_t maxHeadLength = kDefaultMaxHeadLength) : maxHeadLength_(maxHeadLength) {}

    // Appends bytes; once the state is no longer NeedMore, further bytes are ignored.
    State append(std::span<const uint8_t> bytes);
    State state() const { return state_; }
    // The HTTP status that answers a failed head (431, 414 or 400), 0 otherwise.
    int failureStatus() const;

    const std::string& method() const { return method_; }
    // The request target as sent ("/a/b?c=d", or an absolute URL).
    const std::string& target() const { return target_; }
    // Field names as first sent; repeated fields are joined with ", ".
    const std::map<std::string, std::string>& headers() const { return headers_; }
    // The bytes that followed the blank line (the start of the body).
    const std::vector<uint8_t>& remainder() const { return remainder_; }

    // The target's path percent-decoded ("/" when it has none) and its raw query; false when the
    // target is not origin-form or absolute-form, or its path does not decode.
    static bool splitTarget(std::string_view target, std::string& path, std::string& query);

private:
    State fail(State state);
    State parse(std::string_view head);
    bool parseRequestLine(std::string_view line);
    bool addField(std::string_view line);

    const size_t maxHeadLength_;
    State state_ = State::NeedMore;
    std::string buffer_;
    size_t scanFrom_ = 0;
    std::string method_;
    std::string target_;
    bool http11_ = false;
    bool targetTooLong_ = false;
    std::map<std::string, std::string> headers_;
    std::vector<uint8_t> remainder_;
};
