#include "UI/QualityWindowController.h"

#include "UI/QualityWindowDelegate.h"
#include "UI/RecordingSettingsViews.h"
#include "UI/SelectedQualityIndex.h"

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

// Records each confirmed text with the index it finds set.
class RecordingQualityDelegate final : public QualityWindowDelegate {
public:
    std::vector<std::string> texts;
    void setQualityText(const std::string& text) override
    {
        texts.push_back(text + " index=" + std::to_string(gSelectedQualityIndex.load()));
    }
};

// The picker as the settings popover makes it: automatic confirmed, the window loaded.
class QualityWindowControllerTest : public ::testing::Test {
protected:
    QualityWindowControllerTest()
    {
        gSelectedQualityIndex = 0;
        picker.setQualityWindowDelegate(&delegate);
        picker.windowDidLoad();
    }
    ~QualityWindowControllerTest() override { gSelectedQualityIndex = 0; }

    // The 2K choice confirmed with OK; the calls so far forgotten.
    void confirm2K()
    {
        picker.showWindow();
        picker.selectEvent(3);
        picker.sumbit();
        calls.clear();
        delegate.texts.clear();
    }

    Calls calls;
    RecordingQualityView view{calls};
    RecordingQualityDelegate delegate;
    QualityWindowController picker{view, "Auto"};
};

TEST_F(QualityWindowControllerTest, StartsOnAutomaticAndOkConfirmsTheMarkedChoice)
{
    EXPECT_EQ(calls, Calls{"checkMark 0"}) << "automatic is marked when the window loads";
    EXPECT_EQ(picker.quality(), "Auto");

    picker.showWindow();
    picker.selectEvent(3);
    EXPECT_EQ(gSelectedQualityIndex.load(), 3) << "a click sets the index before OK";
    EXPECT_TRUE(delegate.texts.empty());
    picker.sumbit();
    EXPECT_EQ(delegate.texts, std::vector<std::string>{"2K index=3"});
    EXPECT_EQ(picker.beforeQuality(), "2K");
    EXPECT_EQ(calls, (Calls{"checkMark 0", "showWindow", "checkMark 3", "closeWindow"}));
}

TEST_F(QualityWindowControllerTest, CancelAndTheCloseBoxGoBackToTheConfirmedChoice)
{
    picker.showWindow();
    picker.selectEvent(2);
    picker.cancelWindow();
    EXPECT_EQ(gSelectedQualityIndex.load(), 0);
    EXPECT_EQ(picker.quality(), "Auto");

    confirm2K();
    picker.showWindow();
    picker.selectEvent(2);
    EXPECT_EQ(gSelectedQualityIndex.load(), 2);
    picker.cancelWindow();
    EXPECT_EQ(gSelectedQualityIndex.load(), 3);
    EXPECT_EQ(calls, (Calls{"showWindow", "checkMark 2", "checkMark 3", "closeWindow"}));

    // Closed by its close box, the window left the index on 720P while the popover still showed 2K.
    calls.clear();
    picker.showWindow();
    picker.selectEvent(2);
    picker.windowWillClose();
    EXPECT_EQ(gSelectedQualityIndex.load(), 3);
    EXPECT_EQ(picker.quality(), "2K");
    EXPECT_EQ(calls, (Calls{"showWindow", "checkMark 2", "checkMark 3", "closeWindow"}));
    EXPECT_TRUE(delegate.texts.empty()) << "a close box confirms nothing";
}

TEST_F(QualityWindowControllerTest, ChoicesFromOutsideAndOutOfRangeFallToAutomatic)
{
    picker.selectEvent(7);
    EXPECT_EQ(gSelectedQualityIndex.load(), 0);
    EXPECT_EQ(picker.quality(), "Auto");

    confirm2K();
    picker.setQualityAndUpdate("4K");
    EXPECT_EQ(gSelectedQualityIndex.load(), 0);
    EXPECT_EQ(picker.quality(), "Auto");
    EXPECT_EQ(picker.beforeQuality(), "4K");
    EXPECT_EQ(calls, Calls{"checkMark 0"});
    EXPECT_EQ(delegate.texts, std::vector<std::string>{"4K index=0"});

    picker.setQualityWindowDelegate(nullptr);
    picker.selectEvent(1);
    picker.sumbit();
    EXPECT_EQ(delegate.texts.size(), 1u) << "without a delegate OK only closes";
}

// The delegate applies the index as it hears of the text: were it told first, a running cast would
// restart at the old choice's size while the picker shows automatic.
TEST_F(QualityWindowControllerTest, AChoiceFromOutsideIsSetBeforeTheDelegateHearsOfIt)
{
    confirm2K();
    picker.setQualityAndUpdate("Auto");
    EXPECT_EQ(delegate.texts, std::vector<std::string>{"Auto index=0"});
}

} // namespace
