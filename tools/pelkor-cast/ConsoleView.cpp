#include "ConsoleView.h"

#include "Platform/MainQueue.h"
#include "Socket/FileShareOffer.h"

#include <utility>

ConsoleView::ConsoleView(Printer print) : print_(std::move(print)) {}

const char* ConsoleView::pageName(MainWindowPage page)
{
    switch (page) {
    case MainWindowPage::NoDevice:
        return "no TV";
    case MainWindowPage::DeviceList:
        return "TV list";
    case MainWindowPage::Connected:
        return "connected";
    case MainWindowPage::Window:
        return "window choice";
    }
    return "?";
}

void ConsoleView::showToastTip(const std::string& message, bool, int64_t, float)
{
    print_("toast: " + message);
}

void ConsoleView::showAlert(const std::string& message, const std::string& informative, std::function<void()> dismissed)
{
    print_("alert: " + message + ": " + informative);
    // Closed at once, as a user pressing OK would, after this call returns.
    if (dismissed)
        MainQueue::shared()->async(std::move(dismissed));
}

void ConsoleView::showPage(MainWindowPage page)
{
    if (page_ == page)
        return;
    page_ = page;
    print_(std::string("page: ") + pageName(page));
}

void ConsoleView::showInputError(const std::optional<std::string>& tip)
{
    inputError_ = tip;
    if (tip)
        print_("address: " + *tip);
}

void ConsoleView::showTvName(const std::string& name)
{
    print_("TV: " + name);
}

void ConsoleView::showCastingCodeWindow()
{
    castingCodeWindow_ = true;
    print_("casting code asked for");
}

void ConsoleView::hideCastingCodeWindow()
{
    castingCodeWindow_ = false;
}

void ConsoleView::setCastingCodeText(const std::string&) {}

void ConsoleView::showCastingCodeError(const std::string& error)
{
    if (!error.empty())
        print_("casting code: " + error);
}

void ConsoleView::showCastingState(bool)
{
    print_("casting");
}

void ConsoleView::showIdleState(ScreenType)
{
    print_("cast stopped");
}

void ConsoleView::showQualityEntry(bool shown)
{
    print_(shown ? "the TV takes quality changes" : "the TV keeps its own quality");
}

void ConsoleView::showFileShareWindow(const FileShareOffer& offer, int64_t secondsRemaining)
{
    print_("file offer files=" + std::to_string(offer.fileCount()) + " seconds=" + std::to_string(secondsRemaining));
}

void ConsoleView::showDownloadResult(int stored, int failed)
{
    print_("file offer done stored=" + std::to_string(stored) + " failed=" + std::to_string(failed));
}
