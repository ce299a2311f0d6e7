#include "QtTestSupport.h"

#include "Utils/LocalizedText.h"
#include "UI/Qt/GlobalPopWindow.h"
#include "UI/Qt/MainWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {

class GlobalPopWindowTest : public QtLoopFixture {
protected:
    template <typename T>
    static T* control(const QWidget& window, const char* name)
    {
        return findControl<T>(window, name);
    }
    static QPushButton* button(const QWidget& window, const char* name) { return control<QPushButton>(window, name); }
};

TEST_F(GlobalPopWindowTest, ShowsItsTextsInTheMiddleOfTheScreen)
{
    GlobalPopWindow window("Replace the file?", "A file of that name is in the list already.", "OK", "Cancel");
    window.showWindow();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(control<QLabel>(window, "titleLabel")->text(), "Replace the file?");
    EXPECT_EQ(control<QLabel>(window, "messageLabel")->text(), "A file of that name is in the list already.");
    EXPECT_EQ(button(window, "normalButton")->text(), "OK");
    EXPECT_EQ(button(window, "highlightButton")->text(), "Cancel");
    const QPoint middle = window.screen()->availableGeometry().center();
    EXPECT_EQ(window.frameGeometry().center(), middle);
    saveScreenshot(window, "global-pop-window");
}

TEST_F(GlobalPopWindowTest, EachButtonRunsItsClosureThenCloses)
{
    GlobalPopWindow window("Title", "Message", "Normal", "Highlight");
    std::vector<std::string> ran;
    window.setNormalButtonBlock([&] { ran.push_back("first"); });
    // Closures may change at any time; the one set when the button is pressed runs.
    window.setNormalButtonBlock([&] {
        ran.push_back(window.isVisible() ? "normal, window still open" : "normal, window closed");
    });
    window.setHighlightButtonBlock([&] { ran.push_back("highlight"); });

    window.showWindow();
    button(window, "normalButton")->click();
    EXPECT_FALSE(window.isVisible());
    window.showWindow();
    button(window, "highlightButton")->click();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(ran, (std::vector<std::string>{"normal, window still open", "highlight"}));
}

TEST_F(GlobalPopWindowTest, AButtonWithoutAClosureOnlyCloses)
{
    GlobalPopWindow window("Title", "Message", "Normal", "Highlight");
    for (const char* name : {"normalButton", "highlightButton"}) {
        SCOPED_TRACE(name);
        window.showWindow();
        button(window, name)->click();
        EXPECT_FALSE(window.isVisible());
    }
}

TEST_F(GlobalPopWindowTest, AClosureMayLetItsWindowGo)
{
    auto* window = new GlobalPopWindow("Title", "Message", "Normal", "Highlight");
    bool ran = false;
    window->setNormalButtonBlock([&] {
        ran = true;
        delete window;
    });
    window->showWindow();
    window->normalHandler();
    EXPECT_TRUE(ran);
}

// The file panel's question: OK replaces, the highlighted Cancel only closes, and a question asked
// again while one shows takes its place in the same window.
TEST_F(GlobalPopWindowTest, TheMainWindowAsksToReplaceAFileInOneWindow)
{
    MainWindow main;
    main.show();
    int replaced = 0;
    main.filePanel().askToReplace([&] { replaced += 1; });
    main.filePanel().askToReplace([&] { replaced += 10; });
    const auto windows = main.findChildren<GlobalPopWindow*>();
    ASSERT_EQ(windows.size(), 1);
    GlobalPopWindow& question = *windows.front();
    EXPECT_TRUE(question.isVisible());
    EXPECT_EQ(control<QLabel>(question, "titleLabel")->text(),
              QString::fromStdString(LocalizedText::text("STRING_REPLACE_FILE_TITLE")));
    EXPECT_EQ(control<QLabel>(question, "messageLabel")->text(),
              QString::fromStdString(LocalizedText::text("STRING_REPLACE_FILE_CONTENT")));
    EXPECT_EQ(button(question, "normalButton")->text(), QString::fromStdString(LocalizedText::text("STRING_OK")));
    EXPECT_EQ(button(question, "highlightButton")->text(), QString::fromStdString(LocalizedText::text("STRING_CANCEL")));
    button(question, "normalButton")->click();
    EXPECT_EQ(replaced, 10);

    main.filePanel().askToReplace([&] { replaced += 100; });
    button(question, "highlightButton")->click();
    EXPECT_FALSE(question.isVisible());
    EXPECT_EQ(replaced, 10);
}

} // namespace
