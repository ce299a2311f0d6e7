#include "WebServer/HttpServerMIMEStreamParser.h"

#include "WebServer/HttpServerFunctions.h"

#include "Utils/Log.h"

#include <algorithm>
#include <numeric>
#include <strings.h>

namespace {

constexpr std::string_view kHeadEnd = "\r\n\r\n";

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Offset of needle in bytes at or after from; npos when absent.
size_t find(const std::vector<uint8_t>& bytes, std::string_view needle, size_t from)
{
    if (from >= bytes.size())
        return std::string_view::npos;
    const auto found = std::search(bytes.begin() + static_cast<ptrdiff_t>(from), bytes.end(), needle.begin(), needle.end());
    return found == bytes.end() ? std::string_view::npos : static_cast<size_t>(found - bytes.begin());
}

bool isASCII(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

std::unique_ptr<HttpServerMIMEStreamParser> HttpServerMIMEStreamParser::create(std::string_view boundary,
    std::string defaultControlName, std::vector<HttpServerMultiPartArgument>& arguments,
    std::vector<HttpServerMultiPartFile>& files, const Limits& limits, int depth)
{
    if (boundary.empty() || boundary.size() > kMaxBoundaryLength || !isASCII(boundary) || depth > kMaxNesting)
        return nullptr;
    return std::unique_ptr<HttpServerMIMEStreamParser>(new HttpServerMIMEStreamParser(
        "--" + std::string(boundary), std::move(defaultControlName), arguments, files, limits, depth));
}

HttpServerMIMEStreamParser::HttpServerMIMEStreamParser(std::string boundary, std::string defaultControlName,
    std::vector<HttpServerMultiPartArgument>& arguments, std::vector<HttpServerMultiPartFile>& files,
    const Limits& limits, int depth)
    : boundary_(std::move(boundary))
    , delimiter_("\r\n" + boundary_)
    , defaultControlName_(std::move(defaultControlName))
    , arguments_(arguments)
    , files_(files)
    , limits_(limits)
    , depth_(depth)
{
}

bool HttpServerMIMEStreamParser::appendBytes(std::span<const uint8_t> bytes)
{
    if (failed_)
        return false;
    if (state_ == State::End)
        return true;
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    if (!step()) {
        failed_ = true;
        tmpFile_.close(nullptr);
        return false;
    }
    return true;
}

bool HttpServerMIMEStreamParser::step()
{
    for (;;) {
        Progress progress = Progress::Wait;
        switch (state_) {
        case State::PartHead:
            progress = parseHead();
            break;
        case State::Start:
        case State::PartContent:
            progress = scanForBoundary();
            break;
        case State::End:
            return true;
        }
        if (progress != Progress::Continue)
            return progress == Progress::Wait;
    }
}

HttpServerMIMEStreamParser::Progress HttpServerMIMEStreamParser::exceed(const char* what)
{
    PLOG("Refusing multipart body: %s", what);
    exceededLimit_ = true;
    return Progress::Fail;
}

HttpServerMIMEStreamParser::Progress HttpServerMIMEStreamParser::parseHead()
{
    // A part without any header line starts directly with the blank line.
    size_t headLength = 0;
    size_t consumed = 2;
    if (data_.size() < 2)
        return Progress::Wait;
    if (data_[0] != '\r' || data_[1] != '\n') {
        headLength = find(data_, kHeadEnd, scanFrom_);
        if (headLength == std::string_view::npos) {
            if (data_.size() > limits_.maxHeadLength)
                return exceed("part head too long");
            scanFrom_ = data_.size() >= kHeadEnd.size() ? data_.size() - (kHeadEnd.size() - 1) : 0;
            return Progress::Wait;
        }
        if (headLength > limits_.maxHeadLength)
            return exceed("part head too long");
        consumed = headLength + kHeadEnd.size();
    }
    if (arguments_.size() + files_.size() >= limits_.maxParts)
        return exceed("too many parts");

    controlName_.clear();
    fileName_.clear();
    contentType_.clear();
    subParser_.reset();
    if (!readHeadLines(std::string_view(reinterpret_cast<const char*>(data_.data()), headLength)) || !startPart())
        return Progress::Fail;
    data_.erase(data_.begin(), data_.begin() + static_cast<ptrdiff_t>(consumed));
    scanFrom_ = 0;
    state_ = State::PartContent;
    return Progress::Continue;
}

bool HttpServerMIMEStreamParser::readHeadLines(std::string_view head)
{
    if (!HttpServerFunctions::isValidUTF8(head)) {
        PLOG("Failed decoding headers in part of 'multipart/form-data'");
        return false;
    }
    while (!head.empty()) {
        const size_t lineEnd = head.find("\r\n");
        const std::string_view line = head.substr(0, lineEnd);
        head = lineEnd == std::string_view::npos ? std::string_view() : head.substr(lineEnd + 2);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = HttpServerFunctions::trimBlanks(line.substr(colon + 1));
        if (equalsIgnoringCase(name, "Content-Type")) {
            contentType_ = HttpServerFunctions::normalizeHeaderValue(value);
        } else if (equalsIgnoringCase(name, "Content-Disposition")) {
            const std::string disposition = HttpServerFunctions::normalizeHeaderValue(value);
            const std::string kind = HttpServerFunctions::truncateHeaderValue(disposition);
            if (kind == "form-data")
                controlName_ = HttpServerFunctions::extractHeaderParameter(disposition, "name").value_or("");
            else if (kind == "file")
                controlName_ = defaultControlName_;
            else
                continue;
            fileName_ = HttpServerFunctions::extractHeaderParameter(disposition, "filename").value_or("");
        }
    }
    if (contentType_.empty())
        contentType_ = "text/plain";
    return !controlName_.empty();
}

bool HttpServerMIMEStreamParser::startPart()
{
    if (HttpServerFunctions::truncateHeaderValue(contentType_) == "multipart/mixed") {
        const auto boundary = HttpServerFunctions::extractHeaderParameter(contentType_, "boundary");
        subParser_ = create(boundary.value_or(""), controlName_, arguments_, files_, limits_, depth_ + 1);
        return subParser_ != nullptr;
    }
    if (!fileName_.empty()) {
        HttpError error;
        if (!tmpFile_.create(&error)) {
            PLOG("Failed creating temporary file for multipart file: %s", error.description.c_str());
            return false;
        }
        return true;
    }
    const size_t held = std::accumulate(arguments_.begin(), arguments_.end(), size_t { 0 },
        [](size_t sum, const HttpServerMultiPartArgument& argument) { return sum + argument.data().size(); });
    fieldBudget_ = held < limits_.maxFieldLength ? limits_.maxFieldLength - held : 0;
    return true;
}

HttpServerMIMEStreamParser::Progress HttpServerMIMEStreamParser::scanForBoundary()
{
    // The first boundary may open the body; every later one follows a line break.
    const std::string_view delimiter = state_ == State::Start ? std::string_view(boundary_) : std::string_view(delimiter_);
    for (size_t position = find(data_, delimiter, scanFrom_); position != std::string_view::npos;
         position = find(data_, delimiter, position + 1)) {
        const size_t after = position + delimiter.size();
        if (data_.size() < after + 2 || (data_[after] == '-' && data_[after + 1] == '-' && data_.size() < after + 4)) {
            scanFrom_ = position;
            return Progress::Wait;
        }
        const bool nextPart = data_[after] == '\r' && data_[after + 1] == '\n';
        const bool lastPart = data_[after] == '-' && data_[after + 1] == '-' && data_[after + 2] == '\r' && data_[after + 3] == '\n';
        if (!nextPart && !lastPart)
            continue; // boundary text inside content, not a delimiter
        if (!finishPart(position))
            return Progress::Fail;
        if (lastPart) {
            state_ = State::End;
            data_.clear();
            data_.shrink_to_fit();
        } else {
            data_.erase(data_.begin(), data_.begin() + static_cast<ptrdiff_t>(after + 2));
            state_ = State::PartHead;
        }
        scanFrom_ = 0;
        return Progress::Continue;
    }
    // A delimiter can only start within the last delimiter.size() - 1 bytes.
    scanFrom_ = data_.size() >= delimiter.size() ? data_.size() - delimiter.size() + 1 : 0;
    return passOn(scanFrom_) ? Progress::Wait : Progress::Fail;
}

bool HttpServerMIMEStreamParser::passOn(size_t length)
{
    if (length == 0)
        return true;
    if (state_ == State::PartContent && !subParser_ && !tmpFile_.isOpen()) {
        // A field part stays whole in memory, within its budget.
        if (length > fieldBudget_) {
            exceed("form fields too large");
            return false;
        }
        return true;
    }
    const std::span<const uint8_t> content(data_.data(), length);
    if (subParser_ && !subParser_->appendBytes(content)) {
        exceededLimit_ = subParser_->exceededLimit();
        return false;
    }
    if (tmpFile_.isOpen()) {
        HttpError error;
        if (!tmpFile_.write(content, &error)) {
            PLOG("Failed writing multipart file: %s", error.description.c_str());
            return false;
        }
    }
    // Before the first boundary: a preamble, dropped.
    data_.erase(data_.begin(), data_.begin() + static_cast<ptrdiff_t>(length));
    scanFrom_ -= length;
    return true;
}

bool HttpServerMIMEStreamParser::finishPart(size_t contentLength)
{
    if (state_ != State::PartContent)
        return true;
    const std::span<const uint8_t> content(data_.data(), contentLength);
    if (subParser_) {
        // The inner body ends with the line break before this boundary.
        const bool complete = subParser_->appendBytes(std::span<const uint8_t>(data_.data(), contentLength + 2))
            && subParser_->isAtEnd();
        exceededLimit_ = subParser_->exceededLimit();
        subParser_.reset();
        return complete;
    }
    if (tmpFile_.isOpen()) {
        HttpError error;
        if (!tmpFile_.write(content, &error) || !tmpFile_.close(&error)) {
            PLOG("Failed storing multipart file: %s", error.description.c_str());
            return false;
        }
        files_.emplace_back(controlName_, contentType_, fileName_, tmpFile_.releasePath());
        return true;
    }
    if (contentLength > fieldBudget_) {
        exceed("form fields too large");
        return false;
    }
    arguments_.emplace_back(controlName_, contentType_, std::vector<uint8_t>(content.begin(), content.end()));
    return true;
}
