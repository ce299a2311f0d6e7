#include "tv-sim/TvScreenView.h"

#include "Socket/Int32Payload.h"
#include "Socket/MessageType.h"
#include "Socket/TvScreenResolutionPayload.h"
#include "Utils/Log.h"

#include <utility>

TvScreenView::TvScreenView(SendMessage send, const Screen& screen, std::optional<int32_t> refusal)
    : send_(std::move(send)),
      streamer_([this](std::span<const uint8_t> accessUnit) { return send_(kMsgVideoFrame, accessUnit); }),
      screen_(screen),
      refusal_(refusal)
{
}

TvScreenView::~TvScreenView()
{
    shutdown();
}

void TvScreenView::setObserver(Observer observer)
{
    observer_ = std::move(observer);
}

bool TvScreenView::setScreen(const Screen& screen)
{
    if (!ScreenStreamer::valid(screen))
        return false;
    std::lock_guard lock(mutex_);
    screen_ = screen;
    return true;
}

TvScreenView::Screen TvScreenView::screen() const
{
    std::lock_guard lock(mutex_);
    return screen_;
}

void TvScreenView::setRefusal(std::optional<int32_t> reason)
{
    std::lock_guard lock(mutex_);
    refusal_ = reason;
}

void TvScreenView::onMessage(uint16_t type, std::span<const uint8_t> payload)
{
    if (type == kMsgTvScreenStart) {
        start();
    } else if (type == kMsgTvScreenStop) {
        end("client");
    } else if (type == kMsgViewSize) {
        // The client echoes the size in which its touches will come: the same record as the resolution.
        const auto size = TvScreenResolutionPayload::decode(payload);
        if (!size) {
            PLOG("tv-sim: dropping a %zu-byte view size: shorter than its record", payload.size());
            return;
        }
        {
            std::lock_guard lock(mutex_);
            viewSize_ = Size{size->width, size->height};
        }
        report("view size=" + std::to_string(size->width) + "x" + std::to_string(size->height));
    } else if (auto event = TvInputEvent::decode(type, payload)) {
        {
            std::lock_guard lock(mutex_);
            input_.push_back(*event);
        }
        inputAdded_.notify_all();
        report("input " + event->describe());
    }
}

void TvScreenView::start()
{
    // A start while streaming begins afresh; no frame of the old stream may follow the new resolution.
    end("restart");
    std::optional<int32_t> refusal;
    Screen screen;
    {
        std::lock_guard lock(mutex_);
        refusal = refusal_;
        screen = screen_;
    }
    if (refusal) {
        send_(kMsgTvScreenFail, Int32Payload{*refusal}.encode());
        report("view refused reason=" + std::to_string(*refusal));
        return;
    }
    // The size goes before the first frame: the client shapes its window and pointer scale from it.
    send_(kMsgTvScreenResolution, TvScreenResolutionPayload{screen.width, screen.height}.encode());
    if (streamer_.start(screen))
        report("view start size=" + std::to_string(screen.width) + "x" + std::to_string(screen.height) +
               " fps=" + std::to_string(screen.fps));
}

void TvScreenView::onLinkDown()
{
    end("link");
}

bool TvScreenView::stopViewing()
{
    return end("tv") && send_(kMsgTvScreenStop, {});
}

bool TvScreenView::end(const char* by)
{
    const auto frames = streamer_.stop();
    if (!frames)
        return false;
    report("view stop frames=" + std::to_string(*frames) + " by=" + by);
    return true;
}

void TvScreenView::shutdown()
{
    streamer_.shutdown();
}

bool TvScreenView::viewing() const
{
    return streamer_.streaming();
}

uint64_t TvScreenView::framesStreamed() const
{
    return streamer_.framesSent();
}

std::optional<TvScreenView::Size> TvScreenView::viewSize() const
{
    std::lock_guard lock(mutex_);
    return viewSize_;
}

std::vector<TvInputEvent> TvScreenView::inputEvents() const
{
    std::lock_guard lock(mutex_);
    return input_;
}

void TvScreenView::clearInput()
{
    std::lock_guard lock(mutex_);
    input_.clear();
}

bool TvScreenView::waitForInput(size_t count, Timeout timeout) const
{
    std::unique_lock lock(mutex_);
    return inputAdded_.wait_for(lock, timeout, [&] { return input_.size() >= count; });
}

void TvScreenView::report(const std::string& line) const
{
    if (observer_)
        observer_(line);
}
