#pragma once

#include "UI/QualityWindowView.h"
#include "Utils/ThreadAffinity.h"

#include <array>
#include <cstddef>
#include <string>

class QualityWindowDelegate;

// The quality picker: the user marks one of four qualities (automatic, 1080P, 720P, 2K) and confirms
// or cancels. A mark sets gSelectedQualityIndex at once; OK reports the marked text to the delegate,
// which applies it; Cancel, and the window's close box alike, go back to the last confirmed choice.
// Main thread (asserted).
class QualityWindowController {
public:
    static constexpr size_t kQualityCount = 4;

    // Marks `quality` as the confirmed choice; the automatic entry's text is STRING_AUTO's.
    QualityWindowController(QualityWindowView& view, const std::string& quality);
    QualityWindowController(const QualityWindowController&) = delete;
    QualityWindowController& operator=(const QualityWindowController&) = delete;

    // Null: the confirmed choices go nowhere. Cleared by its owner before it goes.
    void setQualityWindowDelegate(QualityWindowDelegate* delegate) { qualityWindowDelegate_ = delegate; }

    // The view is ready: the entry of the marked text gets its check mark.
    void windowDidLoad();
    void showWindow();
    // An entry clicked: 0 automatic, 1 1080P, 2 720P, 3 2K; any other index counts as automatic.
    void selectEvent(size_t index);
    // OK: the marked choice is confirmed and reported.
    void sumbit();
    void cancelWindow();
    // The window's close box: a close that confirms nothing is a Cancel, so the index never stays on
    // a choice the popover does not show.
    void windowWillClose();
    // Sets and confirms the choice from outside (the TV takes no quality changes: back to automatic);
    // a text not among the choices marks automatic.
    void setQualityAndUpdate(const std::string& text);

    const std::string& quality() const { return quality_; }
    const std::string& beforeQuality() const { return beforeQuality_; }

private:
    // The index of the text among the choices; kQualityCount when it is none of them.
    size_t indexOf(const std::string& text) const;

    QualityWindowView& view_;
    QualityWindowDelegate* qualityWindowDelegate_ = nullptr;
    const std::array<std::string, kQualityCount> qualityArray_;
    // The marked choice and the confirmed one; they differ only while the window is open.
    std::string quality_;
    std::string beforeQuality_;
    ThreadAffinity mainThread_;
};
