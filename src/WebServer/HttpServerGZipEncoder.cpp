#include "WebServer/HttpServerGZipEncoder.h"

#include "WebServer/HttpServerResponse.h"

#include <memory>

namespace {

constexpr size_t kInitialOutputSize = 262144;
constexpr int kGzipWindowBits = 15 + 16;  // 32 KiB window inside a gzip wrapper
constexpr int kMemoryLevel = 8;

HttpError zlibError(int code, const char* what)
{
    return HttpError{HttpError::kZlibDomain, code, what};
}

}  // namespace

HttpServerGZipEncoder::HttpServerGZipEncoder(HttpServerResponse& response, HttpServerBodyReader& reader)
    : HttpServerBodyEncoder(response, reader)
{
    response_.setContentLength(HttpServerResponse::kUnknownLength);
    response_.setValueForAdditionalHeader("Content-Encoding", "gzip");
}

HttpServerGZipEncoder::~HttpServerGZipEncoder()
{
    endStream();
}

bool HttpServerGZipEncoder::open(HttpError* error)
{
    const int result = deflateInit2(&stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, kMemoryLevel, Z_DEFAULT_STRATEGY);
    if (result != Z_OK) {
        HttpError::assign(error, zlibError(result, "Failed to set up gzip compression"));
        return false;
    }
    streamOpen_ = true;
    if (!reader_.open(error)) {
        endStream();
        return false;
    }
    return true;
}

HttpServerBodyReader::Piece HttpServerGZipEncoder::compress(const std::vector<uint8_t>& input, HttpError* error)
{
    if (!streamOpen_) {
        HttpError::assign(error, zlibError(Z_STREAM_ERROR, "The gzip stream is not open"));
        return std::nullopt;
    }
    std::vector<uint8_t> output(kInitialOutputSize);
    stream_.next_in = const_cast<Bytef*>(input.data());
    stream_.avail_in = static_cast<uInt>(input.size());
    size_t produced = 0;
    const int flush = input.empty() ? Z_FINISH : Z_NO_FLUSH;
    while (true) {
        stream_.next_out = output.data() + produced;
        stream_.avail_out = static_cast<uInt>(output.size() - produced);
        const int result = deflate(&stream_, flush);
        produced = output.size() - stream_.avail_out;
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
            HttpError::assign(error, zlibError(result, "Failed to compress the body"));
            return std::nullopt;
        }
        if (result == Z_STREAM_END) {
            finished_ = true;
            break;
        }
        if (stream_.avail_out > 0 && stream_.avail_in == 0) {
            break;  // input used up and nothing more pending
        }
        if (stream_.avail_out == 0) {
            output.resize(output.size() * 2);
        }
    }
    output.resize(produced);
    return output;
}

HttpServerBodyReader::Piece HttpServerGZipEncoder::readData(HttpError* error)
{
    if (finished_) {
        return std::vector<uint8_t>();
    }
    while (true) {
        Piece input = reader_.readData(error);
        if (!input) {
            return std::nullopt;
        }
        Piece output = compress(*input, error);
        if (!output || !output->empty() || finished_) {
            return output;
        }
    }
}

void HttpServerGZipEncoder::asyncReadData(ReadCompletion completion)
{
    if (!reader_.hasAsyncRead()) {
        HttpServerBodyEncoder::asyncReadData(std::move(completion));
        return;
    }
    if (finished_) {
        completion(std::vector<uint8_t>(), HttpError{});
        return;
    }
    reader_.asyncReadData([this, completion = std::move(completion)](Piece input, const HttpError& readError) mutable {
        if (!input) {
            completion(std::nullopt, readError);
            return;
        }
        HttpError error;
        Piece output = compress(*input, &error);
        if (!output || !output->empty() || finished_) {
            completion(std::move(output), error);
            return;
        }
        asyncReadData(std::move(completion));
    });
}

void HttpServerGZipEncoder::close()
{
    endStream();
    reader_.close();
}

void HttpServerGZipEncoder::endStream()
{
    if (streamOpen_) {
        deflateEnd(&stream_);
        streamOpen_ = false;
    }
}
