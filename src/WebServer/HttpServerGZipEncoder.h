#pragma once

#include "WebServer/HttpServerBodyEncoder.h"

#include <zlib.h>

// Compresses the body with the gzip content coding; the compressed length is unknown in advance,
// so the response is switched to chunked transfer.
class HttpServerGZipEncoder : public HttpServerBodyEncoder {
public:
    HttpServerGZipEncoder(HttpServerResponse& response, HttpServerBodyReader& reader);
    ~HttpServerGZipEncoder() override;

    bool open(HttpError* error) override;
    Piece readData(HttpError* error) override;
    void close() override;
    bool hasAsyncRead() const override { return reader_.hasAsyncRead(); }
    void asyncReadData(ReadCompletion completion) override;

private:
    // Compresses one input piece (an empty one ends the stream); the output may be empty.
    Piece compress(const std::vector<uint8_t>& input, HttpError* error);
    void endStream();

    z_stream stream_{};
    bool streamOpen_ = false;
    bool finished_ = false;
};
