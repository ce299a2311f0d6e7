#include "WebServer/HttpServerChunkParser.h"

#include <algorithm>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

HttpServerChunkParser::State HttpServerChunkParser::append(std::span<const uint8_t> bytes)
{
    size_t i = 0;
    while (state_ == State::NeedMore && i < bytes.size()) {
        const char c = static_cast<char>(bytes[i]);
        switch (step_) {
        case Step::SizeLine:
            ++i;
            if (c == '\n') {
                if (!endSizeLine())
                    state_ = State::Malformed;
            } else if (lineLength_ == kMaxLineLength) {
                state_ = State::Malformed;
            } else {
                line_[lineLength_++] = c;
            }
            break;
        case Step::Data: {
            const size_t length = static_cast<size_t>(std::min<uint64_t>(remaining_, bytes.size() - i));
            if (!sink_(bytes.subspan(i, length))) {
                state_ = State::SinkFailed;
                break;
            }
            i += length;
            remaining_ -= length;
            if (remaining_ == 0) {
                step_ = Step::DataEnd;
                lineLength_ = 0;
            }
            break;
        }
        case Step::DataEnd:
            ++i;
            // Exactly CR LF must follow the data.
            if ((lineLength_ == 0 && c == '\r') || (lineLength_ == 1 && c == '\n')) {
                if (++lineLength_ == 2) {
                    step_ = Step::SizeLine;
                    lineLength_ = 0;
                }
            } else {
                state_ = State::Malformed;
            }
            break;
        case Step::Trailer:
            ++i;
            if (++trailerLength_ > kMaxTrailerLength) {
                state_ = State::Malformed;
            } else if (c == '\n') {
                if (trailerLineLength_ == 0)
                    state_ = State::Complete;
                trailerLineLength_ = 0;
            } else if (c != '\r') {
                ++trailerLineLength_;
            }
            break;
        }
    }
    return state_;
}

// The size line is in line_ without its LF; it must end with CR.
bool HttpServerChunkParser::endSizeLine()
{
    std::string_view line(line_, lineLength_);
    lineLength_ = 0;
    if (line.empty() || line.back() != '\r')
        return false;
    line.remove_suffix(1);
    line = line.substr(0, line.find(';'));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    if (line.empty() || line.size() > 16)
        return false;
    uint64_t size = 0;
    for (const char c : line) {
        const int digit = hexValue(c);
        if (digit < 0)
            return false;
        size = size << 4 | static_cast<uint64_t>(digit);
    }
    if (size > static_cast<uint64_t>(INT64_MAX))
        return false;
    if (size == 0) {
        step_ = Step::Trailer;
        return true;
    }
    remaining_ = size;
    step_ = Step::Data;
    return true;
}
