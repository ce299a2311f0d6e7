#pragma once

#include "Media/H264DecoderOutputDelegate.h"
#include "Media/H264DecoderTool.h"
#include "Platform/MainQueueGuard.h"
#include "Session/SessionEnd.h"
#include "Socket/VXTcpReverseControlDelegate.h"
#include "UI/TvMirror/DisplayWindowDelegate.h"
#include "Utils/ThreadAffinity.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

class DisplayWindowController;
class MainWindowController;
class SerialQueue;

// Viewing the TV's screen: starting and stopping it from the connected page, the TV's invitation, size,
// refusal and stop, and the road of the TV's stream: each packet copied and split, one at a time, on
// the serial queue "com.display.queue", each sample shown by the TV-screen window. Owns that window's
// rules (DisplayWindowController).
//
// Threads: the user's actions and the TV's reports run on the main thread (asserted; the TV's stop,
// refusal and invitation move to the main queue first). The TV's size and packets arrive on the link's
// threads and touch only the link, the window's thread-safe calls and the splitter slot (locked).
// Samples are delivered on the display queue.
class TvScreenController final : public TvScreenDelegate, public H264DecoderOutputDelegate, public DisplayWindowDelegate {
public:
    // The stop button takes clicks this long after the TV's size came; the view button this long after a stop.
    static constexpr std::chrono::milliseconds kButtonDelay{500};

    explicit TvScreenController(MainWindowController& owner);
    // The link must no longer call in (the mediator has cleared its slot): waits for the packets still
    // on the display queue.
    ~TvScreenController() override;
    TvScreenController(const TvScreenController&) = delete;
    TvScreenController& operator=(const TvScreenController&) = delete;

    // --- The user's actions, main thread.
    // The view button toggled to `on`: start viewing, or stop it.
    void clickMirrorBtn(bool on);
    void clickStopMirrorBtn();

    // The end-of-session step for the link: viewing stops without a word to the TV (a cast's end
    // leaves viewing alone).
    void endSession(SessionEnd end);

    // --- TvScreenDelegate.
    // The TV's invitation (main queue), refusal and stop (receive thread): each moves to the main queue.
    void tvInviteToReverse() override;
    void tvScreenFail(int reason) override;
    void tvScreenStop() override;
    // Receive thread: echoes the TV's size as kMsgViewSize and sizes the window for it.
    void onReceiveScreenReaolution(int width, int height) override;
    // Video delivery thread. The bytes are valid during the call only: they are copied once, and the
    // copy lives as long as the samples cut from it.
    void onReveiveScreenVideoData(const uint8_t* data, int64_t len) override;

    // H264DecoderOutputDelegate: display queue.
    void didOutputVideoSampleBuffer(const std::shared_ptr<const CompressedSample>& sampleBuffer) override;
    // DisplayWindowDelegate: the user closed the window.
    void displayWindowWillClose() override;

    DisplayWindowController& displayWindow() { return *displayWindow_; }
    // The serial queue that splits the TV's stream.
    SerialQueue& displayQueue() { return *displayQueue_; }

private:
    // The TV's reports, on the main thread.
    void invited();
    void viewingRefused(int reason);
    void viewingStoppedByTv();
    void startViewing();
    // Stops the picture, hides the window and takes a fresh splitter; tells the TV when `tellTv`.
    void stopViewing(bool tellTv);
    void setMirrorButton(bool on);
    void enableMirrorButtonLater();
    // A splitter of its own for the next stream: it learns the start codes and parameter sets anew.
    void replaceSplitter();
    std::shared_ptr<H264DecoderTool> splitter() const;

    MainWindowController& owner_;
    ThreadAffinity mainThread_;
    std::unique_ptr<DisplayWindowController> displayWindow_;
    const std::shared_ptr<SerialQueue> displayQueue_;
    // Replaced on the main thread, taken by each packet on the link's video thread; a packet already
    // queued is finished by the splitter it took.
    mutable std::mutex splitterMutex_;
    std::shared_ptr<H264DecoderTool> h264DecoderTool_;
    MainQueueGuard guard_;
};
