#pragma once

#include "UI/KeyboardMonitor.h"
#include "UI/TvMirror/DisplayLayer.h"
#include "UI/TvMirror/DisplayWindowDelegate.h"
#include "UI/TvMirror/DisplayWindowView.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A DisplayWindowView for tests: holds the sizes a window would, and records each change as a line.
class RecordingDisplayWindowView final : public DisplayWindowView {
public:
    std::vector<std::string> calls;
    DisplaySize content = DisplayGeometry::kInitialContentSize;
    double titleBar = 28;
    DisplayRect frame{{100, 100}, {1280, 748}};
    double displayWidth = 1920;
    double handleY = 300;
    double handleHeight = 40;
    bool visible = false;
    bool sidebarShown = false;
    bool handleShown = true;
    bool annotationShown = false;

    void showWindow() override
    {
        visible = true;
        calls.push_back("showWindow");
    }
    bool isWindowVisible() const override { return visible; }
    void orderOut() override
    {
        visible = false;
        calls.push_back("orderOut");
    }
    DisplaySize contentSize() const override { return content; }
    void setContentSize(DisplaySize size) override
    {
        content = size;
        calls.push_back("setContentSize " + std::to_string(size.width) + " x " + std::to_string(size.height));
    }
    double titleBarHeight() const override { return titleBar; }
    void centerWindow() override { calls.push_back("centerWindow"); }
    DisplayRect windowFrame() const override { return frame; }
    double mainDisplayWidth() const override { return displayWidth; }
    double sidebarHandleY() const override { return handleY; }
    double sidebarHandleHeight() const override { return handleHeight; }
    void moveSidebarHandle(double y) override { handleY = y; }
    void showSidebar(bool shown) override { sidebarShown = shown; }
    void showSidebarHandle(bool shown) override { handleShown = shown; }
    void raiseSidebarHandle() override { calls.push_back("raiseSidebarHandle"); }
    void showAnnotationState(bool on) override { annotationShown = on; }
};

// The picture: its state as the test sets it, and the samples it took (kept, so their bytes can be
// checked). The samples come on the display queue, the test reads on its own thread.
class FakeDisplayLayer final : public DisplayLayer {
public:
    std::atomic<Status> layerStatus{Status::Rendering};
    std::atomic<bool> ready{true};
    std::atomic<int> enqueued{0};
    std::atomic<int> flushes{0};

    Status status() const override { return layerStatus; }
    bool isReadyForMoreMediaData() const override { return ready; }
    void enqueueSampleBuffer(std::shared_ptr<const CompressedSample> sample) override
    {
        const std::lock_guard lock(mutex_);
        samples_.push_back(std::move(sample));
        ++enqueued;
    }
    void flushAndRemoveImage() override { ++flushes; }
    std::vector<std::shared_ptr<const CompressedSample>> samples() const
    {
        const std::lock_guard lock(mutex_);
        return samples_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<const CompressedSample>> samples_;
};

// The application's key monitor: installed or not.
class StubKeyboardMonitor final : public KeyboardMonitor {
public:
    bool installed = false;
    void install(Handler) override { installed = true; }
    void remove() override { installed = false; }
};

class CountingDisplayWindowDelegate final : public DisplayWindowDelegate {
public:
    int closes = 0;
    void displayWindowWillClose() override { ++closes; }
};

// One message as the controller handed it to the link.
struct SentMessage {
    int type = 0;
    std::vector<uint8_t> payload;
    bool operator==(const SentMessage&) const = default;
};
