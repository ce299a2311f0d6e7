#pragma once

#include "WebServer/HttpServerMultiPartArgument.h"
#include "WebServer/HttpServerMultiPartFile.h"
#include "WebServer/HttpServerTemporaryFile.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A push parser of a multipart body ("multipart/form-data", and "multipart/mixed" parts inside it).
// Field parts are collected in memory into the argument list; file parts stream to temporary files
// and end up in the file list; both lists belong to the owner and must outlive the parser.
// Everything held in memory is capped (Limits); past a cap the parse fails and exceededLimit() says so.
class HttpServerMIMEStreamParser {
public:
    struct Limits {
        size_t maxHeadLength = 16 * 1024;   // one part's head block
        size_t maxFieldLength = 16u << 20;   // all field parts of the body together
        size_t maxParts = 1000;              // fields and files together
    };
    static constexpr size_t kMaxBoundaryLength = 200;
    static constexpr int kMaxNesting = 4;

    // nullptr for an empty boundary, one that is not ASCII or one longer than kMaxBoundaryLength.
    static std::unique_ptr<HttpServerMIMEStreamParser> create(std::string_view boundary,
        std::string defaultControlName, std::vector<HttpServerMultiPartArgument>& arguments,
        std::vector<HttpServerMultiPartFile>& files, const Limits& limits, int depth = 0);

    HttpServerMIMEStreamParser(const HttpServerMIMEStreamParser&) = delete;
    HttpServerMIMEStreamParser& operator=(const HttpServerMIMEStreamParser&) = delete;

    // True while the stream is well formed; once false it stays false. Bytes after the closing
    // boundary are ignored.
    bool appendBytes(std::span<const uint8_t> bytes);
    // The closing boundary has been seen.
    bool isAtEnd() const { return state_ == State::End; }
    bool exceededLimit() const { return exceededLimit_; }

private:
    enum class State { Start = 1, PartHead, PartContent, End };
    enum class Progress { Wait, Fail, Continue };

    HttpServerMIMEStreamParser(std::string boundary, std::string defaultControlName,
        std::vector<HttpServerMultiPartArgument>& arguments, std::vector<HttpServerMultiPartFile>& files,
        const Limits& limits, int depth);

    bool step();
    Progress parseHead();
    bool readHeadLines(std::string_view head);
    bool startPart();
    Progress scanForBoundary();
    // Hands content that can no longer belong to a boundary on to the part (or drops a preamble).
    bool passOn(size_t length);
    bool finishPart(size_t contentLength);
    Progress exceed(const char* what);

    const std::string boundary_;    // "--" and the boundary
    const std::string delimiter_;   // CR LF, "--" and the boundary: the end of a part's content
    const std::string defaultControlName_;
    std::vector<HttpServerMultiPartArgument>& arguments_;
    std::vector<HttpServerMultiPartFile>& files_;
    const Limits limits_;
    const int depth_;

    State state_ = State::Start;
    bool failed_ = false;
    bool exceededLimit_ = false;
    std::vector<uint8_t> data_;
    // No boundary (or head end) starts before this offset of data_.
    size_t scanFrom_ = 0;
    // Bytes the current field part may still hold.
    size_t fieldBudget_ = 0;

    std::string controlName_;
    std::string fileName_;
    std::string contentType_;
    HttpServerTemporaryFile tmpFile_;
    std::unique_ptr<HttpServerMIMEStreamParser> subParser_;
};
