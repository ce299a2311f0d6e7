#pragma once

#include "UI/HelpView.h"
#include "UI/QualityWindowController.h"
#include "UI/QualityWindowDelegate.h"
#include "Utils/ThreadAffinity.h"

#include <functional>
#include <string>

class AboutWindowController;
class ShowChangeDeviceNameDelegate;
class SoundSwitchStateDelegate;
class UserChangeVideoQualityDelegate;

// The settings popover: the sound switch, the log switch, the device name and the cast's quality. It
// reports to the main window's controller through three delegates (each may be null: the call is
// then dropped) and owns the quality picker. Main thread (asserted).
class HelpViewController final : public QualityWindowDelegate {
public:
    // The popover's size, and its size with the quality entry (while connected to a TV that takes
    // quality changes).
    static constexpr int kContentWidth = 190;
    static constexpr int kContentHeight = 150;
    static constexpr int kGrownContentHeight = 200;

    // logRedirect switches the log file on or off (PUtils::logRedirect by default).
    HelpViewController(HelpView& view, QualityWindowView& qualityView, std::function<void(bool on)> logRedirect = {});
    ~HelpViewController() override;
    HelpViewController(const HelpViewController&) = delete;
    HelpViewController& operator=(const HelpViewController&) = delete;

    // Non-owning; the owner clears them before it goes.
    void setSoundSwitchDelegate(SoundSwitchStateDelegate* delegate) { soundSwitchDelegate_ = delegate; }
    void setShowChangeDeviceWindowDelegate(ShowChangeDeviceNameDelegate* delegate)
    {
        showChangeDeviceWindowDelegate_ = delegate;
    }
    void setUserChangeVideoQualityDelegate(UserChangeVideoQualityDelegate* delegate)
    {
        userChangeVideoQualityDelegate_ = delegate;
    }

    // The view is ready: the switches as they start (sound on, log off), where the log is written, and
    // the automatic quality.
    void viewDidLoad();

    // The sound switch, already toggled to `on` by the click; its label toggles it.
    void soundSwitchButton(bool on);
    void soundSwitchTextButton();
    // The log switch, already toggled to `on`; its label toggles it.
    void clickLogSwitch(bool on);
    void clickLogSwitchText();
    // The device-name entry (its picture and its label).
    void DeviceNameButton();
    // The quality entry (its picture and its label): the quality picker, in front.
    void qualityButton();

    // The about window that the about entry shows; non-owning, unset before it goes.
    void setAboutWindowController(AboutWindowController* about) { aboutWindowController_ = about; }
    // The about entry (its picture and its label): the about window, in front.
    void aboutButton();

    // The popover grows to hold the quality entry while connected, and shrinks without it.
    void showHelpForConnection(bool connected);
    // The TV takes quality changes (the entry shows) or not (it goes, and the choice is back to automatic).
    void showQualityEntry(bool shown);

    // QualityWindowDelegate: shows the confirmed quality, cut before its first "(", and has it applied
    // when it differs from the one shown.
    void setQualityText(const std::string& text) override;

    QualityWindowController& qualityWindowController() { return qualityWindowController_; }
    bool soundOn() const { return soundOn_; }
    bool logOn() const { return logOn_; }

private:
    void grow(bool grown);

    HelpView& view_;
    QualityWindowController qualityWindowController_;
    const std::function<void(bool on)> logRedirect_;
    SoundSwitchStateDelegate* soundSwitchDelegate_ = nullptr;
    ShowChangeDeviceNameDelegate* showChangeDeviceWindowDelegate_ = nullptr;
    UserChangeVideoQualityDelegate* userChangeVideoQualityDelegate_ = nullptr;
    AboutWindowController* aboutWindowController_ = nullptr;
    // Sound starts on, as the session's audioSendFlag does; the log starts off.
    bool soundOn_ = true;
    bool logOn_ = false;
    std::string qualityInfo_;
    ThreadAffinity mainThread_;
};
