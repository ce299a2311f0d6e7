#pragma once

#include "Platform/VirtualDisplay.h"

#include <memory>
#include <string>

class SwayIpc;
class SwayOutputRecord;

// The extended screen of a sway desktop: a headless output of the compositor's, as large as the
// main display, which only a cast shows. It is disabled when the object goes (sway keeps a made
// output to its end, and enables it again for the next one; sway 1.7 cannot disable it, and the next
// one takes it again through its record). Every method is safe from any thread.
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
    SwayHeadlessDisplay(std::unique_ptr<SwayIpc> ipc, std::unique_ptr<SwayOutputRecord> record, std::string name,
                        int height);

    std::unique_ptr<SwayIpc> ipc_;
    // Held while the output shows this extended screen.
    std::unique_ptr<SwayOutputRecord> record_;
    const std::string name_;
    const int height_;
};
