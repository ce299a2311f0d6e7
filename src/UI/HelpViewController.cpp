#include "UI/HelpViewController.h"

#include "Update/AboutWindowController.h"
#include "Utils/LocalizedText.h"
#include "UI/ShowChangeDeviceNameDelegate.h"
#include "UI/SoundSwitchStateDelegate.h"
#include "UI/UserChangeVideoQualityDelegate.h"
#include "Utils/PUtils.h"

#include <cassert>

HelpViewController::HelpViewController(HelpView& view, QualityWindowView& qualityView,
                                       std::function<void(bool on)> logRedirect)
    : view_(view),
      qualityWindowController_(qualityView, LocalizedText::text("STRING_AUTO")),
      logRedirect_(logRedirect ? std::move(logRedirect) : &PUtils::logRedirect)
{
    assert(mainThread_.holds());
    qualityWindowController_.setQualityWindowDelegate(this);
}

HelpViewController::~HelpViewController()
{
    assert(mainThread_.holds());
    qualityWindowController_.setQualityWindowDelegate(nullptr);
}

void HelpViewController::viewDidLoad()
{
    assert(mainThread_.holds());
    view_.showSoundSwitch(soundOn_);
    view_.showLogSwitch(logOn_);
    const auto logFile = PUtils::logFilePath();
    view_.showLogFilePath(logFile ? logFile->string() : std::string());
    setQualityText(LocalizedText::text("STRING_AUTO"));
}

void HelpViewController::soundSwitchButton(bool on)
{
    assert(mainThread_.holds());
    soundOn_ = on;
    view_.showSoundSwitch(soundOn_);
    if (soundSwitchDelegate_)
        soundSwitchDelegate_->reportSoundSwitchState(soundOn_);
}

void HelpViewController::soundSwitchTextButton()
{
    soundSwitchButton(!soundOn_);
}

void HelpViewController::clickLogSwitch(bool on)
{
    assert(mainThread_.holds());
    logOn_ = on;
    logRedirect_(logOn_);
    view_.showLogSwitch(logOn_);
}

void HelpViewController::clickLogSwitchText()
{
    clickLogSwitch(!logOn_);
}

void HelpViewController::DeviceNameButton()
{
    assert(mainThread_.holds());
    if (showChangeDeviceWindowDelegate_)
        showChangeDeviceWindowDelegate_->showChangeDeviceWindow();
}

void HelpViewController::aboutButton()
{
    assert(mainThread_.holds());
    if (aboutWindowController_)
        aboutWindowController_->showWindow();
}

void HelpViewController::qualityButton()
{
    qualityWindowController_.showWindow();
}

void HelpViewController::showHelpForConnection(bool connected)
{
    grow(connected);
}

void HelpViewController::showQualityEntry(bool shown)
{
    if (!shown)
        qualityWindowController_.setQualityAndUpdate(LocalizedText::text("STRING_AUTO"));
    grow(shown);
}

void HelpViewController::grow(bool grown)
{
    assert(mainThread_.holds());
    view_.setContentSize(kContentWidth, grown ? kGrownContentHeight : kContentHeight);
    view_.showQualityEntry(grown);
}

void HelpViewController::setQualityText(const std::string& text)
{
    assert(mainThread_.holds());
    const std::string shown = text.substr(0, text.find('('));
    if (shown == qualityInfo_)
        return;
    qualityInfo_ = shown;
    view_.showQualityInfo(qualityInfo_);
    if (userChangeVideoQualityDelegate_)
        userChangeVideoQualityDelegate_->userChangeVideoQuality();
}
