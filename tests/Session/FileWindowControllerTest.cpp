#include "FileShare/FileCollectionView.h"
#include "FileShare/FileServer.h"
#include "Platform/MainLoopFixture.h"
#include "Socket/TCPManager.h"
#include "Session/FileWindowController.h"
#include "Session/MainWindowController.h"
#include "Session/RecordingView.h"
#include "Utils/TestFolders.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <fstream>

namespace {

// The file button: the window opens, emptied, only for a TV on one of the computer's subnets (here
// 192.168.1.0/24), and a second press while it is open does nothing.
class FileWindowControllerTest : public MainLoopFixture {
protected:
    FileWindowControllerTest()
    {
        FileServer::Options options;
        options.cachesFolder = root.path();
        options.server.port = 0;
        options.server.bindToLocalhost = true;
        options.server.bonjourName.reset();
        server = std::make_unique<FileServer>(options);
        SessionServices services;
        services.link = &link;
        services.discovery.reset();
        services.fileServer = server.get();
        services.subnetInterfaces = [] {
            LocalSubnet::Interface lan;
            inet_pton(AF_INET, "192.168.1.20", &lan.address);
            inet_pton(AF_INET, "255.255.255.0", &lan.netmask);
            return std::vector<LocalSubnet::Interface>{lan};
        };
        controller = std::make_unique<MainWindowController>(view, services);
    }

    TempDir root;
    std::unique_ptr<FileServer> server;
    TCPManager link;
    RecordingView view;
    std::unique_ptr<MainWindowController> controller;
};

TEST_F(FileWindowControllerTest, OpensOnlyForATvOnALocalSubnet)
{
    auto& files = controller->fileWindow();
    for (const char* address : {"192.168.2.9", "not an address"}) {
        controller->state().tvDeviceIp = address;
        files.goFileInfoWindow();
        EXPECT_EQ(view.calls.back(), "toast Files can be shared only while connected close=0 position=1 time=3.000000") << address;
    }
    controller->state().tvDeviceIp.reset();
    files.goFileInfoWindow();
    EXPECT_FALSE(view.fileWindowVisible);

    const auto source = root.path() / "kept.txt";
    std::ofstream(source) << "x";
    files.panel().selectFileCallBack(source);
    controller->state().tvDeviceIp = "192.168.1.77";
    view.calls.clear();
    files.goFileInfoWindow();
    EXPECT_EQ(view.calls, (std::vector<std::string>{"buttons 0", "reloadData", "showFileInfoWindow"}));
    EXPECT_EQ(files.panel().numberOfItems(), 1u) << "opened afresh";

    files.panel().selectFileCallBack(source);
    view.calls.clear();
    files.goFileInfoWindow();
    EXPECT_TRUE(view.calls.empty());
    EXPECT_EQ(files.panel().numberOfItems(), 2u);
}

} // namespace
