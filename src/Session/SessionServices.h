#pragma once

#include "FileShare/LocalSubnet.h"
#include "Socket/FindTvDevices.h"
#include "Session/CastMedia.h"
#include "Session/ExtendedScreenServices.h"
#include "Session/InputPosting.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class FileServer;
class HttpClient;
class TCPManager;
class WindowListSource;

// What MainWindowController works with, injected so a test or a command-line front-end can run a
// session against its own link, folder and display.
struct SessionServices {
    // The TV link; nullptr: TCPManager::sharedManager(). Must outlive the controller.
    TCPManager* link = nullptr;
    // Empties the shared folder (FileServer::clear) when a link comes up or ends. Main thread.
    std::function<void()> clearSharedFolder;
    // Discovery's sockets; nullopt: no discovery runs (a typed address or code still connects).
    std::optional<FindTvDevices::Options> discovery = FindTvDevices::Options{};
    // The cast's capture, sound and display; empty members take the real ones.
    CastMedia castMedia;
    // The extended screen and the display-change watch; empty members take the real ones.
    ExtendedScreenServices extendedScreen;
    // The windows the window picker lists; nullptr: those of $DISPLAY.
    std::shared_ptr<WindowListSource> windowList;
    // Where the TV's touches and keys are posted; empty members take the real ones.
    InputPosting input;
    // The identifier of the frontmost program, for the presentation report; empty: none can be told
    // (this system has no such key), so nothing is reported.
    std::function<std::string()> frontmostBundleId;
    // The TV's port for every connect.
    uint16_t tvPort = 6666;
    // The camera and microphone relay's port on 127.0.0.1 (8888 where the application's information
    // enables it); nullopt: no relay server.
    std::optional<uint16_t> roziPort;
    // This computer's IPv4 interface addresses, in interface order: a casting code is decoded once
    // with the first octet of each. Main thread.
    std::function<std::vector<std::string>()> localAddresses = &FindTvDevices::getNICIP;
    // Run as a cast's sound capture starts: the loopback device becomes the default sink and source,
    // so what the computer plays reaches the capture. Main thread. Empty: the audio routing is left alone.
    std::function<void()> routeAudioToLoopback;
    // Run by the end-of-session step of a cast that routed the sound: the user's devices are back.
    // Main thread.
    std::function<void()> restoreAudioDevices;

    // --- Files. The shared-folder server; nullptr: FileServer::sharedManager(). Must outlive the controller.
    FileServer* fileServer = nullptr;
    // The interfaces whose subnets the file window opens for; empty: this computer's.
    std::function<std::vector<LocalSubnet::Interface>()> subnetInterfaces;
    // Fetches the files the TV offers; nullptr: a CurlHttpClient.
    std::shared_ptr<HttpClient> http;
    // Where offered files are stored; empty: "pelkor" in the user's download folder.
    std::function<std::optional<std::filesystem::path>()> downloadFolder;
};
