#pragma once

#include "UI/TvMirror/DisplayLayer.h"
#include "UI/TvMirror/DisplayWindowView.h"

// The TV-screen window of a front-end without windows: it keeps the sizes it is given, shows nothing
// and takes no picture (every sample is refused as the picture not being ready). Main thread, but for
// the picture's calls, which hold no state.
class NoDisplayWindow final : public DisplayWindowView, public DisplayLayer {
public:
    // DisplayWindowView
    void showWindow() override {}
    bool isWindowVisible() const override { return false; }
    void orderOut() override {}
    DisplaySize contentSize() const override { return content_; }
    void setContentSize(DisplaySize size) override { content_ = size; }
    double titleBarHeight() const override { return 0; }
    void centerWindow() override {}
    DisplayRect windowFrame() const override { return {{0, 0}, content_}; }
    double mainDisplayWidth() const override { return content_.width; }
    void showSidebar(bool) override {}
    void showSidebarHandle(bool) override {}
    void raiseSidebarHandle() override {}
    double sidebarHandleY() const override { return 0; }
    double sidebarHandleHeight() const override { return 0; }
    void moveSidebarHandle(double) override {}
    void showAnnotationState(bool) override {}

    // DisplayLayer
    Status status() const override { return Status::Unknown; }
    bool isReadyForMoreMediaData() const override { return false; }
    void enqueueSampleBuffer(std::shared_ptr<const CompressedSample>) override {}
    void flushAndRemoveImage() override {}

private:
    DisplaySize content_ = DisplayGeometry::kInitialContentSize;
};
