#pragma once

#include "Socket/FindTvDevices.h"

#include <functional>
#include <optional>

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
};
