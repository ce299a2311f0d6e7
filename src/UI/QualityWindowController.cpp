#include "UI/QualityWindowController.h"

#include "Utils/LocalizedText.h"
#include "UI/QualityWindowDelegate.h"
#include "UI/SelectedQualityIndex.h"

#include <algorithm>
#include <cassert>

QualityWindowController::QualityWindowController(QualityWindowView& view, const std::string& quality)
    : view_(view),
      qualityArray_{LocalizedText::text("STRING_AUTO"), LocalizedText::text("1080P"), LocalizedText::text("720P"),
                    LocalizedText::text("2K")},
      quality_(quality),
      beforeQuality_(quality)
{
    assert(mainThread_.holds());
}

size_t QualityWindowController::indexOf(const std::string& text) const
{
    return static_cast<size_t>(std::ranges::find(qualityArray_, text) - qualityArray_.begin());
}

void QualityWindowController::windowDidLoad()
{
    assert(mainThread_.holds());
    if (const size_t index = indexOf(quality_); index < kQualityCount)
        view_.showCheckMark(index);
}

void QualityWindowController::showWindow()
{
    assert(mainThread_.holds());
    view_.showWindow();
}

void QualityWindowController::selectEvent(size_t index)
{
    assert(mainThread_.holds());
    if (index >= kQualityCount)
        index = 0;
    quality_ = qualityArray_[index];
    gSelectedQualityIndex.store(static_cast<int32_t>(index));
    view_.showCheckMark(index);
}

void QualityWindowController::sumbit()
{
    assert(mainThread_.holds());
    if (qualityWindowDelegate_)
        qualityWindowDelegate_->setQualityText(quality_);
    beforeQuality_ = quality_;
    view_.closeWindow();
}

void QualityWindowController::cancelWindow()
{
    assert(mainThread_.holds());
    selectEvent(indexOf(beforeQuality_));
    view_.closeWindow();
}

void QualityWindowController::windowWillClose()
{
    cancelWindow();
}

void QualityWindowController::setQualityAndUpdate(const std::string& text)
{
    assert(mainThread_.holds());
    beforeQuality_ = text;
    // The index is set before the delegate hears of the change, since it applies the index at once.
    selectEvent(indexOf(text));
    if (qualityWindowDelegate_)
        qualityWindowDelegate_->setQualityText(text);
}
