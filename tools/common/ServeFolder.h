#pragma once

// The frame of the tools that serve a folder on the loopback addresses: arguments "FOLDER [PORT]",
// one "NAME listening on 127.0.0.1:PORT" line on standard output (which scripts wait for) once the
// server is up, and a clean stop on SIGINT or SIGTERM (HttpServer::runWithOptions).

#include "WebServer/HttpServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace ServeFolder {

// Prints the line the scripts wait for, on the main queue once the server listens.
class ListeningLine final : public HttpServerDelegate {
public:
    explicit ListeningLine(const char* name) : name_(name) {}
    void webServerDidStart(HttpServer& server) override
    {
        printf("%s listening on 127.0.0.1:%u\n", name_, server.port());
        fflush(stdout);
    }

private:
    const char* const name_;
};

}  // namespace ServeFolder

inline int serveFolder(int argc, char** argv, const char* name,
    const std::function<std::shared_ptr<HttpServer>(const std::string& folder)>& makeServer)
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
    signal(SIGPIPE, SIG_IGN);

    const std::shared_ptr<HttpServer> server = makeServer(argv[1]);
    const auto listeningLine = std::make_shared<ServeFolder::ListeningLine>(name);
    server->setDelegate(listeningLine);
    HttpServer::Options options;
    options.port = static_cast<uint16_t>(port);
    options.bindToLocalhost = true;
    // A burst of new connections must not overflow the listen queue (a dropped handshake costs the
    // client a retransmission); 511 as common servers use.
    options.maxPendingConnections = 511;
    // Every client of a loopback server shares one address: the global cap is the one that counts.
    options.maxConnectionsPerAddress = 0;
    HttpError error;
    if (!server->runWithOptions(options, &error)) {
        fprintf(stderr, "cannot start: %s\n", error.description.c_str());
        return 1;
    }
    return 0;
}
