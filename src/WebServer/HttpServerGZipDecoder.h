#pragma once

#include "WebServer/HttpServerBodyDecoder.h"

#include <vector>
#include <zlib.h>

// Inflates a gzip-coded body on its way to the next writer. Output goes on in pieces of at most
// kOutputChunkLength bytes, so one small input never grows a buffer here; the total inflated size is
// capped (a decompression bomb fails with 413), and a stream that ends before its gzip trailer fails
// at close instead of passing as a complete body.
class HttpServerGZipDecoder : public HttpServerBodyDecoder {
public:
    static constexpr size_t kOutputChunkLength = 262144;
    static constexpr uint64_t kDefaultMaxInflatedLength = 256ull << 20;

    explicit HttpServerGZipDecoder(HttpServerBodyWriter* next, uint64_t maxInflatedLength = kDefaultMaxInflatedLength);
    ~HttpServerGZipDecoder() override;
    HttpServerGZipDecoder(const HttpServerGZipDecoder&) = delete;
    HttpServerGZipDecoder& operator=(const HttpServerGZipDecoder&) = delete;

    bool open(HttpError* error) override;
    bool writeData(std::span<const uint8_t> data, HttpError* error) override;
    bool close(HttpError* error) override;

private:
    void endStream();

    z_stream stream_ {};
    bool streamActive_ = false;
    bool finished_ = false;
    uint64_t maxInflatedLength_;
    uint64_t inflatedLength_ = 0;
    std::vector<uint8_t> output_;
};
