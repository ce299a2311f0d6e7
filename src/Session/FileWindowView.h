#pragma once

class FilePanelView;

// The file window of the main window, which holds the file panel. Main thread.
class FileWindowView {
public:
    virtual ~FileWindowView() = default;

    virtual bool isFileInfoWindowVisible() const = 0;
    // Brings the file window to the front, centred, above the main window.
    virtual void showFileInfoWindow() = 0;
    // Closes the file window when the TV link ends; its list stays for the next opening to clear.
    virtual void closeFileInfoWindow() = 0;
    // The panel's grid and buttons inside the file window.
    virtual FilePanelView& filePanel() = 0;
};
