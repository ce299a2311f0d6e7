#include "Session/FileWindowController.h"

#include "FileShare/FileCollectionView.h"
#include "FileShare/FilePanelView.h"
#include "FileShare/FileServer.h"
#include "FileShare/LocalSubnet.h"
#include "Socket/MessageType.h"
#include "Socket/TCPManager.h"
#include "Utils/LocalizedText.h"
#include "Session/MainWindowController.h"
#include "Session/MainWindowView.h"

FileWindowController::FileWindowController(MainWindowController& owner) : owner_(owner) {}

FileWindowController::~FileWindowController() = default;

FileCollectionView& FileWindowController::panel()
{
    if (!panel_) {
        const auto& services = owner_.services();
        FileCollectionView::Services panel;
        panel.server = services.fileServer ? services.fileServer : &FileServer::sharedManager();
        // TCPManager::sendType only queues, from any thread.
        panel.sendFilePush = [&link = owner_.link()](std::vector<uint8_t> payload) {
            link.sendType(kMsgFilePush, payload.data(), static_cast<int>(payload.size()));
        };
        panel_ = std::make_unique<FileCollectionView>(owner_.view().filePanel(), std::move(panel));
    }
    return *panel_;
}

void FileWindowController::goFileInfoWindow()
{
    auto& view = owner_.view();
    const auto& services = owner_.services();
    const auto interfaces = services.subnetInterfaces ? services.subnetInterfaces() : LocalSubnet::localInterfaces();
    if (!LocalSubnet::contains(interfaces, owner_.state().tvDeviceIp.value_or(""))) {
        view.showToastTip(LocalizedText::text("STRING_USE_FILE_ERROR"), false, 1, 3.0f);
        return;
    }
    if (view.isFileInfoWindowVisible())
        return;
    panel().cleanUploadFile();
    view.showFileInfoWindow();
}

void FileWindowController::clearSharedFolder() const
{
    if (owner_.services().clearSharedFolder)
        owner_.services().clearSharedFolder();
}

void FileWindowController::endSession(SessionEnd end)
{
    if (end != SessionEnd::Link)
        return;
    owner_.view().closeFileInfoWindow();
    clearSharedFolder();
}

void FileWindowController::pushFileSuccess()
{
    // In front of the Files window that pushed, while it is open; else on the main window.
    guard_.post([this] {
        auto& view = owner_.view();
        const std::string message = LocalizedText::text("STRING_CLOSE_TOAST");
        if (view.isFileInfoWindowVisible())
            view.filePanel().showPushReceived(message);
        else
            view.showToastTip(message, true, 2, 5.0f);
    });
}
