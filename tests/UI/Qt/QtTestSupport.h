#pragma once

#include "Platform/MainQueue.h"
#include "UI/Qt/QtMainLoop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The test process's one QApplication, made on first use: on the offscreen platform, or on the one
// QT_QPA_PLATFORM names (xcb on a private Xvfb, for pictures of the real platform).
inline QApplication& qtApplication()
{
    static QApplication* const application = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "UIQt_tests";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *application;
}

// Serves Qt's events until done() holds or the real-time limit passes; true when done() held.
inline bool processUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Serves Qt's events for that long.
inline void processFor(std::chrono::milliseconds time)
{
    processUntil([] { return false; }, time);
}

// Each test gets the Qt event loop serving the main queue.
class QtLoopFixture : public ::testing::Test {
protected:
    QtLoopFixture() : loop((qtApplication(), std::make_shared<QtMainLoop>())) { MainQueue::install(loop); }
    ~QtLoopFixture() override
    {
        loop->close();
        MainQueue::install(nullptr);
    }

    const std::shared_ptr<QtMainLoop> loop;
};

// Writes the widget's picture, once its pending events are served, as NAME.png to the folder
// $PELKOR_SCREENSHOT_DIR names, else to the build tree's screenshots folder.
inline void saveScreenshot(QWidget& widget, const std::string& name)
{
    const char* chosen = std::getenv("PELKOR_SCREENSHOT_DIR");
    const std::filesystem::path folder = chosen && *chosen ? chosen : PELKOR_SCREENSHOT_DIR;
    std::filesystem::create_directories(folder);
    processFor(std::chrono::milliseconds(20));
    EXPECT_TRUE(widget.grab().save(QString::fromStdString((folder / (name + ".png")).string())));
}

// The widget of that object name inside `window`; a missing one fails the test and gives nullptr.
template <typename T>
T* findControl(const QWidget& window, const char* name)
{
    T* found = window.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

extern const std::string_view kEnglishTexts;

// True when every character is printable Latin-1 (letters, digits, punctuation, spaces): no boxes for
// a font without the script, no control characters.
inline bool isLatin1(const QString& text)
{
    return std::ranges::all_of(text, [](QChar c) {
        return (c.unicode() >= 0x20 && c.unicode() < 0x7f) || (c.unicode() >= 0xa0 && c.unicode() <= 0xff);
    });
}

// A text a person reads, and the object name of the control that shows it.
struct ReadableText {
    QString text;
    QString control;
};

// Every text a person reads in the window: its title, and the texts, placeholders and tips of the
// controls that show with it (what a field holds is the user's own).
inline std::vector<ReadableText> readableTexts(const QWidget& window)
{
    std::vector<ReadableText> texts{{window.windowTitle(), window.objectName()}};
    QList<QWidget*> widgets = window.findChildren<QWidget*>();
    widgets.prepend(const_cast<QWidget*>(&window));
    for (QWidget* widget : widgets) {
        // The window's own windows (its dialogs) are read on their own.
        if (widget != &window && (widget->window() != &window || !widget->isVisibleTo(&window)))
            continue;
        texts.push_back({widget->toolTip(), widget->objectName()});
        if (const auto* label = qobject_cast<QLabel*>(widget))
            texts.push_back({label->text(), widget->objectName()});
        else if (const auto* button = qobject_cast<QAbstractButton*>(widget))
            texts.push_back({button->text(), widget->objectName()});
        else if (const auto* field = qobject_cast<QLineEdit*>(widget))
            texts.push_back({field->placeholderText(), widget->objectName()});
    }
    std::erase_if(texts, [](const ReadableText& readable) { return readable.text.isEmpty(); });
    return texts;
}

// Each text of the English table as a pattern: itself, with each place of an argument open to any text.
inline const std::vector<QRegularExpression>& tableTextPatterns()
{
    static const std::vector<QRegularExpression> patterns = [] {
        std::vector<QRegularExpression> made;
        for (const QString& line : QString::fromUtf8(kEnglishTexts.data(), qsizetype(kEnglishTexts.size())).split('\n')) {
            const qsizetype separator = line.indexOf(" = ");
            if (line.startsWith('#') || separator <= 0)
                continue;
            QString pattern = QRegularExpression::escape(line.mid(separator + 3));
            for (const char* place : {"%@", "%ld", "%lu", "%d", "%s"})
                pattern.replace(QRegularExpression::escape(place), ".+");
            made.emplace_back(QRegularExpression::anchoredPattern(pattern));
        }
        return made;
    }();
    return patterns;
}

// Every readable text of the window is Latin-1 and comes from the English text table: a text of it
// (filled where it takes arguments), a piece of `data` the test showed (a TV's name, an address), or a
// text of the table followed by one.
inline void expectTextsFromTheTable(const QWidget& window, const std::vector<QString>& data = {})
{
    const auto fromTable = [](const QString& text) {
        return std::ranges::any_of(tableTextPatterns(), [&](const auto& pattern) { return pattern.match(text).hasMatch(); });
    };
    for (const auto& [text, control] : readableTexts(window)) {
        EXPECT_TRUE(isLatin1(text)) << control.toStdString() << ": " << text.toStdString();
        const bool known = fromTable(text) || std::ranges::any_of(data, [&](const QString& piece) {
            return text == piece || (text.endsWith(" " + piece) && fromTable(text.chopped(piece.size() + 1)));
        });
        EXPECT_TRUE(known) << control.toStdString() << ": \"" << text.toStdString() << "\" is no text of the table";
    }
}

// A key pressed in the window, as a user's: the window in front, the key to its focused control.
inline void pressKey(QWidget& window, Qt::Key key)
{
    window.activateWindow();
    // The offscreen platform may keep the focus on a window hidden and shown again without telling
    // the widgets: the window is then made active by hand, as the desktop would.
    if (!processUntil([&] { return QApplication::activeWindow() == &window; }, std::chrono::milliseconds(500)))
        QApplication::setActiveWindow(&window);
    EXPECT_EQ(QApplication::activeWindow(), &window) << window.objectName().toStdString();
    QTest::keyClick(window.focusWidget() ? window.focusWidget() : &window, key);
}
