#pragma once

#include "WebServer/HttpServerDelegate.h"

#include <string>

class WebDavServer;

// What a WebDavServer changed or served, told on the main queue after the change (for a download:
// before the file is sent). Paths are absolute. Every method has an empty default.
class WebDavServerDelegate : public HttpServerDelegate {
public:
    virtual void davServerDidDownloadFile(WebDavServer&, const std::string& /*path*/) {}
    virtual void davServerDidUploadFile(WebDavServer&, const std::string& /*path*/) {}
    virtual void davServerDidMoveItem(WebDavServer&, const std::string& /*fromPath*/, const std::string& /*toPath*/) {}
    virtual void davServerDidCopyItem(WebDavServer&, const std::string& /*fromPath*/, const std::string& /*toPath*/) {}
    virtual void davServerDidDeleteItem(WebDavServer&, const std::string& /*path*/) {}
    virtual void davServerDidCreateDirectory(WebDavServer&, const std::string& /*path*/) {}
};
