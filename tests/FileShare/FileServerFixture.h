#pragma once

#include "FileShare/FileServer.h"
#include "Platform/MainQueue.h"
#include "Platform/TestMainLoop.h"
#include "Utils/CryptoTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

namespace fs = std::filesystem;

// A FileServer over a private caches folder, serving on a kernel-chosen loopback port, with a
// TestMainLoop serving the main queue. The session key it hands out is `key`, null (plain copies)
// until a test sets it; `keyReads` counts the provider's calls.
class FileServerFixture : public ::testing::Test {
protected:
    FileServerFixture()
    {
        // Stays installed: connections still ending post their last calls to it.
        MainQueue::install(loop);
        fs::create_directories(sources());
        server = std::make_unique<FileServer>(options());
    }

    FileServer::Options options()
    {
        FileServer::Options options;
        options.cachesFolder = cache();
        options.server.port = 0;
        options.server.bindToLocalhost = true;
        options.server.bonjourName.reset();
        options.sessionKey = [this] {
            ++keyReads;
            return key;
        };
        return options;
    }

    fs::path cache() const { return root.path() / "cache"; }
    fs::path sources() const { return root.path() / "sources"; }
    fs::path sharedFolder() const { return server->getUploadPath() / FileServer::kSharedFolderName; }
    fs::path shared(const std::string& fileId) const { return sharedFolder() / fileId; }
    // The port of the server's URL, "http://localhost:<port>/".
    uint16_t port() const
    {
        const std::string url = server->getServerURL().value_or("");
        return static_cast<uint16_t>(std::stoi(url.substr(url.rfind(':') + 1)));
    }

    fs::path source(const std::string& name, const Bytes& bytes) const
    {
        const fs::path path = sources() / name;
        writeBytes(path, bytes);
        return path;
    }

    // Every entry of the folder, hidden ones included.
    static std::set<std::string> entries(const fs::path& folder)
    {
        std::set<std::string> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error))
            names.insert(entry.path().filename().string());
        return names;
    }

    std::string urlOf(const std::string& fileId) const { return *server->getServerURL() + "fileshare/" + fileId; }

    static SessionKey makeKey(uint32_t seed) { return std::make_shared<const Bytes>(patternBytes(32, seed)); }

    const std::shared_ptr<TestMainLoop> loop = std::make_shared<TestMainLoop>();
    TempDir root;
    SessionKey key;
    std::atomic<int> keyReads{0};
    std::unique_ptr<FileServer> server;
};
