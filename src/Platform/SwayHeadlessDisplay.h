#pragma once

#include "Platform/VirtualDisplay.h"

#include <memory>
#include <string>

class SwayIpc;

// The extended screen of a sway desktop: a headless output of the compositor's, as large as the
// main display, which only a cast shows. It is disabled when the object goes (sway keeps a made
// output to its end, and enables it again for the next one). Every method is safe from any thread.
class SwayHeadlessDisplay final : public VirtualDisplay {
public:
    struct Created {
        std::unique_ptr<SwayHeadlessDisplay> display;
        std::string refusal;
    };
    // Null, with the reason, where sway does not answer or makes no output.
    static Created create();
    ~SwayHeadlessDisplay() override;

    uint32_t displayId() const override;
    int height() const override { return height_; }
    std::optional<Layout> layout() override;
    bool placeAt(int x, int y) override;
    BgraFrame snapshot() override;

    const std::string& name() const { return name_; }

private:
    SwayHeadlessDisplay(std::unique_ptr<SwayIpc> ipc, std::string name, int height);

    std::unique_ptr<SwayIpc> ipc_;
    const std::string name_;
    const int height_;
};
