#include "WebServer/HttpServerGZipDecoder.h"

#include "WebServer/HttpServerRequest.h"

#include <algorithm>

namespace {

bool zlibFailure(HttpError* error, int code, const char* what)
{
    if (error)
        *error = HttpError { HttpError::kZlibDomain, code, what };
    return false;
}

} // namespace

HttpServerGZipDecoder::HttpServerGZipDecoder(HttpServerBodyWriter* next, uint64_t maxInflatedLength)
    : HttpServerBodyDecoder(next)
    , maxInflatedLength_(maxInflatedLength)
{
}

HttpServerGZipDecoder::~HttpServerGZipDecoder()
{
    endStream();
}

void HttpServerGZipDecoder::endStream()
{
    if (streamActive_)
        inflateEnd(&stream_);
    streamActive_ = false;
}

bool HttpServerGZipDecoder::open(HttpError* error)
{
    stream_ = z_stream {};
    // 15 window bits plus 16: expect a gzip wrapper.
    const int result = inflateInit2(&stream_, 15 + 16);
    if (result != Z_OK)
        return zlibFailure(error, result, "Failed initialising gzip decoder");
    streamActive_ = true;
    finished_ = false;
    inflatedLength_ = 0;
    if (!writer()->open(error)) {
        endStream();
        return false;
    }
    return true;
}

bool HttpServerGZipDecoder::writeData(std::span<const uint8_t> data, HttpError* error)
{
    if (!streamActive_)
        return zlibFailure(error, Z_STREAM_ERROR, "Gzip decoder is not open");
    // Bytes after the end of the gzip stream are ignored.
    if (finished_ || data.empty())
        return true;
    output_.resize(kOutputChunkLength);
    // zlib's avail_in is 32-bit; feed very large pieces in slices.
    while (!data.empty() && !finished_) {
        const size_t slice = std::min<size_t>(data.size(), UINT32_MAX);
        stream_.next_in = const_cast<Bytef*>(data.data());
        stream_.avail_in = static_cast<uInt>(slice);
        do {
            stream_.next_out = output_.data();
            stream_.avail_out = static_cast<uInt>(output_.size());
            const int result = inflate(&stream_, Z_NO_FLUSH);
            if (result == Z_STREAM_END)
                finished_ = true;
            else if (result == Z_BUF_ERROR && stream_.avail_in == 0)
                break; // all input taken, nothing more to produce yet
            else if (result != Z_OK)
                return zlibFailure(error, result, stream_.msg ? stream_.msg : "Corrupt gzip data");
            const size_t produced = output_.size() - stream_.avail_out;
            if (produced > maxInflatedLength_ - inflatedLength_)
                return HttpServerRequest::tooLarge(error, "Inflated request body too large");
            inflatedLength_ += produced;
            if (produced > 0 && !writer()->writeData(std::span<const uint8_t>(output_.data(), produced), error))
                return false;
        } while (!finished_ && (stream_.avail_in > 0 || stream_.avail_out == 0));
        data = data.subspan(slice - stream_.avail_in);
        if (finished_)
            break;
    }
    return true;
}

bool HttpServerGZipDecoder::close(HttpError* error)
{
    const bool complete = finished_;
    endStream();
    if (!complete) {
        writer()->close(nullptr);
        return zlibFailure(error, Z_DATA_ERROR, "Truncated gzip data");
    }
    return writer()->close(error);
}
