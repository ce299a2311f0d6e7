// Serves a folder over HTTP on the loopback addresses, for trying the server by hand or with
// tools/http-smoke.sh.
//
//   http-serve [--quiet] FOLDER [PORT]   (port 0 or none: the kernel chooses; the port is printed)
//
// --quiet leaves out the line each request writes to the server's log (benchmarks).
//
// GET /...             the folder tree (index.html for folders, byte ranges allowed)
// GET /gzip/NAME       the file NAME of the folder, gzip-coded when the client accepts it
// POST /upload         answers "received N bytes" for a body of any framing

#include "common/ServeFolder.h"
#include "WebServer/HttpServer.h"
#include "WebServer/HttpServerDataRequest.h"
#include "WebServer/HttpServerDataResponse.h"
#include "WebServer/HttpServerErrorResponse.h"
#include "WebServer/HttpServerFileResponse.h"
#include "WebServer/HttpServerLog.h"

#include <string>

namespace {

void addToolHandlers(HttpServer& server, const std::string& folder)
{
    server.addGETHandlerForBasePath("/", folder, "index.html", 0, true);
    server.addHandlerForMethodPathRegex("GET", "^/gzip/([^/]+)$", HttpServer::requestFactory(),
        HttpServer::synchronous([folder](std::shared_ptr<HttpServerRequest> request) -> std::shared_ptr<HttpServerResponse> {
            const auto* captures = std::any_cast<std::vector<std::string>>(request->attributeForKey(HttpServerRequest::kRegexCapturesAttribute));
            const std::string name = HttpServerFunctions::normalizeRequestPath(captures->front());
            auto response = HttpServerFileResponse::responseWithFile(folder + "/" + name);
            if (!response)
                return HttpServerErrorResponse::responseWithClientError(404, "\"" + name + "\" does not exist");
            response->setGZipContentEncodingEnabled(request->acceptsGzipContentEncoding());
            return response;
        }));
    server.addHandlerForMethod("POST", "/upload", HttpServer::requestFactory<HttpServerDataRequest>(),
        HttpServer::synchronous([](std::shared_ptr<HttpServerRequest> request) -> std::shared_ptr<HttpServerResponse> {
            const auto& data = static_cast<HttpServerDataRequest&>(*request).data();
            return HttpServerDataResponse::responseWithText("received " + std::to_string(data.size()) + " bytes\n");
        }));
}

}  // namespace

int main(int argc, char** argv)
{
    const bool quiet = argc > 1 && std::string(argv[1]) == "--quiet";
    if (quiet) {
        argv[1] = argv[0];
        ++argv;
        --argc;
    }
    return serveFolder(argc, argv, "http-serve", [quiet](const std::string& folder) {
        HttpServerLog::setLogLevel(quiet ? HttpServerLog::Info : HttpServerLog::Verbose);
        const auto server = std::make_shared<HttpServer>();
        addToolHandlers(*server, folder);
        return server;
    });
}
