#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

// Decodes a chunked request body pushed in pieces of any size, handing each piece of chunk data to
// the sink as it arrives, so no chunk is gathered in memory. Size lines and the trailer are capped;
// a size is hex digits only (an extension after ";" is ignored) and may not exceed 2^63-1.
class HttpServerChunkParser {
public:
    static constexpr size_t kMaxLineLength = 1024;
    static constexpr size_t kMaxTrailerLength = 16 * 1024;

    enum class State { NeedMore, Complete, Malformed, SinkFailed };
    // Returns false to stop the parse (SinkFailed).
    using Sink = std::function<bool(std::span<const uint8_t> data)>;

    explicit HttpServerChunkParser(Sink sink) : sink_(std::move(sink)) {}

    // Consumes bytes until the body is complete; bytes after the end are ignored.
    State append(std::span<const uint8_t> bytes);
    State state() const { return state_; }

private:
    enum class Step { SizeLine, Data, DataEnd, Trailer };

    bool endSizeLine();

    Sink sink_;
    State state_ = State::NeedMore;
    Step step_ = Step::SizeLine;
    std::string_view::size_type lineLength_ = 0;
    char line_[kMaxLineLength] = {};
    uint64_t remaining_ = 0;
    size_t trailerLength_ = 0;
    // Bytes of the current trailer line (0 right after a line ended).
    size_t trailerLineLength_ = 0;
};
