#pragma once

#include "WebServer/HttpServerBodyReader.h"

class HttpServerResponse;

// A link of a response's reader chain that transforms the pieces of the next reader; this base
// passes them through unchanged.
class HttpServerBodyEncoder : public HttpServerBodyReader {
public:
    HttpServerBodyEncoder(HttpServerResponse& response, HttpServerBodyReader& reader) : response_(response), reader_(reader) {}

    bool open(HttpError* error) override { return reader_.open(error); }
    Piece readData(HttpError* error) override { return reader_.readData(error); }
    void close() override { reader_.close(); }

protected:
    HttpServerResponse& response_;
    HttpServerBodyReader& reader_;
};
