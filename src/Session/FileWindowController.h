#pragma once

#include "Platform/MainQueueGuard.h"
#include "Session/SessionEnd.h"
#include "Socket/VXTcpReverseControlDelegate.h"

#include <memory>

class FileCollectionView;
class MainWindowController;

// The main window's side of pushing files: opening the file window (only for a TV on one of this
// computer's subnets), the file panel inside it, and the TV's acknowledgement. Main thread (the
// acknowledgement, TvFilePushDelegate, comes on the receive thread and moves to the main queue).
class FileWindowController final : public TvFilePushDelegate {
public:
    explicit FileWindowController(MainWindowController& owner);
    ~FileWindowController() override;
    FileWindowController(const FileWindowController&) = delete;
    FileWindowController& operator=(const FileWindowController&) = delete;

    // The file button.
    void goFileInfoWindow();
    // kMsgFilePushAck, on the receive thread.
    void pushFileSuccess() override;
    // Empties the shared folder (when the session has one to empty): no copy sealed under an ended
    // link's key, nor one made for another TV, is served.
    void clearSharedFolder() const;
    // The end-of-session step for the link: the file window is closed and the shared folder emptied
    // (a cast's end leaves both alone).
    void endSession(SessionEnd end);

    // Made on first use, over the session's file server (the process-wide one unless injected).
    FileCollectionView& panel();

private:
    MainWindowController& owner_;
    std::unique_ptr<FileCollectionView> panel_;
    MainQueueGuard guard_;
};
