// Serves a folder over WebDAV on the loopback addresses, for trying the server by hand or with
// WebDAV clients and test suites.
//
//   dav-serve FOLDER [PORT]       (port 0 or none: the kernel chooses; the port is printed)

#include "common/ServeFolder.h"
#include "WebServer/HttpServerLog.h"
#include "WebServer/WebDavServer.h"

#include <filesystem>

int main(int argc, char** argv)
{
    if (argc >= 2 && !std::filesystem::is_directory(argv[1])) {
        fprintf(stderr, "%s: %s is not a folder\n", argv[0], argv[1]);
        return 2;
    }
    return serveFolder(argc, argv, "dav-serve", [](const std::string& folder) {
        HttpServerLog::setLogLevel(HttpServerLog::Verbose);
        return std::make_shared<WebDavServer>(folder);
    });
}
