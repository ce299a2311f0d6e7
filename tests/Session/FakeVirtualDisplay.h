#pragma once

#include "Platform/VirtualDisplay.h"
#include "Session/ExtendedScreenServices.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The extended screen without a display server: the screens are a layout the test sets, placements
// are recorded ("1920,0") and move the display, and the snapshot is a picture of the display's size.
// The state outlives the display the services made, so a test reads it after the display went.
class FakeVirtualDisplay {
public:
    static constexpr uint32_t kId = 0x8000'0123;

    struct Screens {
        mutable std::mutex mutex;
        VirtualDisplay::Layout layout{1, {0, 0, 1920, 1080}, Rect{1920, 0, 1920, 1080}};
        int height = 1080;
        std::vector<std::string> placements;
        bool exists = false;
    };

    // Services making this display, or refusing with `refusal` when it is not empty; the displays'
    // changes are told through changed().
    ExtendedScreenServices services(std::string refusal = {})
    {
        ExtendedScreenServices services;
        services.createDisplay = [screens = screens, refusal]() -> ExtendedScreenServices::Made {
            if (!refusal.empty())
                return {nullptr, refusal};
            return {std::make_unique<Display>(screens), {}};
        };
        services.watchDisplayChanges = [this](std::function<void()> changed) -> std::shared_ptr<void> {
            changed_ = std::move(changed);
            return std::make_shared<int>(0);
        };
        return services;
    }

    // Services that touch no display server: the extended screen is refused, no change is told.
    static ExtendedScreenServices refused()
    {
        ExtendedScreenServices services;
        services.createDisplay = [] { return ExtendedScreenServices::Made{nullptr, "not in this test"}; };
        services.watchDisplayChanges = [](std::function<void()>) { return std::shared_ptr<void>(); };
        return services;
    }

    // The displays changed, as the watch tells it.
    void changed() const { changed_(); }

    void setLayout(VirtualDisplay::Layout layout, int height)
    {
        std::lock_guard lock(screens->mutex);
        screens->layout = layout;
        screens->height = height;
    }
    std::vector<std::string> placements() const
    {
        std::lock_guard lock(screens->mutex);
        return screens->placements;
    }
    bool exists() const
    {
        std::lock_guard lock(screens->mutex);
        return screens->exists;
    }

    const std::shared_ptr<Screens> screens = std::make_shared<Screens>();

private:
    class Display final : public VirtualDisplay {
    public:
        explicit Display(std::shared_ptr<Screens> screens) : screens_(std::move(screens)) { setExists(true); }
        ~Display() override { setExists(false); }
        uint32_t displayId() const override { return kId; }
        int height() const override
        {
            std::lock_guard lock(screens_->mutex);
            return screens_->height;
        }
        std::optional<Layout> layout() override
        {
            std::lock_guard lock(screens_->mutex);
            return screens_->layout;
        }
        bool placeAt(int x, int y) override
        {
            std::lock_guard lock(screens_->mutex);
            screens_->placements.push_back(std::to_string(x) + "," + std::to_string(y));
            if (screens_->layout.frame) {
                screens_->layout.frame->x = x;
                screens_->layout.frame->y = y;
            }
            return true;
        }
        BgraFrame snapshot() override
        {
            std::lock_guard lock(screens_->mutex);
            BgraFrame frame;
            if (screens_->layout.frame)
                frame.resize(screens_->layout.frame->width, screens_->layout.frame->height);
            return frame;
        }

    private:
        void setExists(bool exists)
        {
            std::lock_guard lock(screens_->mutex);
            screens_->exists = exists;
        }
        const std::shared_ptr<Screens> screens_;
    };

    std::function<void()> changed_;
};
