#include "WebServer/HttpServerFileRequest.h"

bool HttpServerFileRequest::open(HttpError* error)
{
    return file_.create(error);
}

bool HttpServerFileRequest::writeData(std::span<const uint8_t> data, HttpError* error)
{
    return file_.write(data, error);
}

bool HttpServerFileRequest::close(HttpError* error)
{
    return file_.close(error);
}

std::string HttpServerFileRequest::description() const
{
    return HttpServerRequest::description() + "\n\n{" + temporaryPath() + "}";
}
