#pragma once

// The frame of the tools that serve a folder on the loopback addresses: arguments "FOLDER [PORT]",
// a main loop on this thread, one "NAME listening on 127.0.0.1:PORT" line on standard output (which
// scripts wait for) once the server is up, and a clean stop on SIGINT or SIGTERM.

#include "Platform/MainQueue.h"
#include "Platform/RunLoop.h"
#include "WebServer/HttpServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

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
    // Blocked before any thread starts, so only the waiting thread below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const auto loop = std::make_shared<RunLoop>();
    MainQueue::install(loop);
    const std::shared_ptr<HttpServer> server = makeServer(argv[1]);
    HttpServer::Options options;
    options.port = static_cast<uint16_t>(port);
    options.bindToLocalhost = true;
    HttpError error;
    if (!server->start(options, &error)) {
        fprintf(stderr, "cannot start: %s\n", error.description.c_str());
        return 1;
    }
    printf("%s listening on 127.0.0.1:%u\n", name, server->port());
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
