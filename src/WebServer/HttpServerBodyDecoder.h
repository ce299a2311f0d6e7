#pragma once

#include "WebServer/HttpServerBodyWriter.h"

// A link of the request's writer chain that transforms the body before passing it to the next writer.
// This base passes everything through unchanged.
class HttpServerBodyDecoder : public HttpServerBodyWriter {
public:
    // next must outlive the decoder.
    explicit HttpServerBodyDecoder(HttpServerBodyWriter* next) : writer_(next) {}

    bool open(HttpError* error) override { return writer_->open(error); }
    bool writeData(std::span<const uint8_t> data, HttpError* error) override { return writer_->writeData(data, error); }
    bool close(HttpError* error) override { return writer_->close(error); }

protected:
    HttpServerBodyWriter* writer() const { return writer_; }

private:
    HttpServerBodyWriter* writer_;
};
