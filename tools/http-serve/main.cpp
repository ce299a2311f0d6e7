// Serves a folder over HTTP on the loopback addresses, for trying the server by hand or with
// tools/http-smoke.sh.
//
//   http-serve FOLDER [PORT]       (port 0 or none: the kernel chooses; the port is printed)
//
// GET /...             the folder tree (index.html for folders, byte ranges allowed)
// GET /gzip/NAME       the file NAME of the folder, gzip-coded when the client accepts it
// POST /upload         answers "received N bytes" for a body of any framing

#include "Platform/MainQueue.h"
#include "Platform/RunLoop.h"
#include "WebServer/HttpServer.h"
#include "WebServer/HttpServerDataRequest.h"
#include "WebServer/HttpServerDataResponse.h"
#include "WebServer/HttpServerErrorResponse.h"
#include "WebServer/HttpServerFileResponse.h"
#include "WebServer/HttpServerLog.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

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
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: %s FOLDER [PORT]\n", argv[0]);
        return 2;
    }
    const long port = argc == 3 ? strtol(argv[2], nullptr, 10) : 0;
    if (port < 0 || port > 65535) {
        fprintf(stderr, "bad port %s\n", argv[2]);
        return 2;
    }
    // Blocked before any thread starts, so only the waiting thread below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const auto loop = std::make_shared<RunLoop>();
    MainQueue::install(loop);
    HttpServerLog::setLogLevel(HttpServerLog::Verbose);

    const auto server = std::make_shared<HttpServer>();
    addToolHandlers(*server, argv[1]);
    HttpServer::Options options;
    options.port = static_cast<uint16_t>(port);
    options.bindToLocalhost = true;
    HttpError error;
    if (!server->start(options, &error)) {
        fprintf(stderr, "cannot start: %s\n", error.description.c_str());
        return 1;
    }
    printf("http-serve listening on 127.0.0.1:%u\n", server->port());
    fflush(stdout);

    std::thread([stopSignals, loop] {
        int signalNumber = 0;
        sigwait(&stopSignals, &signalNumber);
        loop->quit();
    }).detach();
    loop->run();
    server->stop();
    MainQueue::install(nullptr);
    return 0;
}
