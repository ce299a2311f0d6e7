#pragma once

#include "FileShare/LocalSubnet.h"
#include "Socket/FindTvDevices.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class FileServer;
class HttpClient;
class TCPManager;

// What MainWindowController works with, injected so a test or a command-line front-end can run a
// session against its own link, folder and display.
struct SessionServices {
    // The TV link; nullptr: TCPManager::sharedManager(). Must outlive the controller.
    TCPManager* link = nullptr;
    // Empties the shared folder (FileServer::clear) when a link comes up or ends. Main thread.
    std::function<void()> clearSharedFolder;
    // Discovery's sockets; nullopt: no discovery runs (a typed address or code still connects).
    std::optional<FindTvDevices::Options> discovery = FindTvDevices::Options{};

    // --- Files. The shared-folder server; nullptr: FileServer::sharedManager(). Must outlive the controller.
    FileServer* fileServer = nullptr;
    // The interfaces whose subnets the file window opens for; empty: this computer's.
    std::function<std::vector<LocalSubnet::Interface>()> subnetInterfaces;
    // Fetches the files the TV offers; nullptr: a CurlHttpClient.
    std::shared_ptr<HttpClient> http;
    // Where offered files are stored; empty: "pelkor" in the user's download folder.
    std::function<std::optional<std::filesystem::path>()> downloadFolder;
};
