#pragma once

#include "UI/HelpView.h"

#include <QFrame>

#include <functional>
#include <memory>

class AboutWindow;
class QToolButton;
class HelpViewController;
class QualityWindow;
class ShowChangeDeviceNameDelegate;
class SoundSwitchStateDelegate;
class UserChangeVideoQualityDelegate;

namespace Ui {
class AboutWindow;
class QToolButton;
class HelpViewController;
}

// The settings popover (HelpViewController.ui): a pop-up that closes on a click outside it, opened by a
// window's help button. Owns its rules and the quality picker's window. Main thread.
class HelpPopover final : public QFrame, public HelpView {
    Q_OBJECT
public:
    // The quality picker's window belongs to `parent`'s window. logRedirect: as HelpViewController's.
    explicit HelpPopover(QWidget* parent = nullptr, std::function<void(bool on)> logRedirect = {});
    ~HelpPopover() override;

    // Where the entries report; each may be null. They outlive the popover or are unset before they go.
    void setDelegates(SoundSwitchStateDelegate* sound, ShowChangeDeviceNameDelegate* deviceName,
                      UserChangeVideoQualityDelegate* quality);
    // Shows the popover centred above the anchor, or below it where the screen has no room above.
    void showAt(const QWidget& anchor);
    // A window's button that opens the popover: its picture and its name.
    static void dressButton(QToolButton& button);

    HelpViewController& controller() { return *controller_; }
    QualityWindow& qualityWindow() { return *qualityWindow_; }
    AboutWindow& aboutWindow() { return *aboutWindow_; }

    // HelpView
    void showSoundSwitch(bool on) override;
    void showLogSwitch(bool on) override;
    void showLogFilePath(const std::string& path) override;
    void showQualityInfo(const std::string& text) override;
    void setContentSize(int width, int height) override;
    void showQualityEntry(bool shown) override;

private:
    void connectActions();

    std::unique_ptr<Ui::HelpViewController> ui_;
    // Made before the rules and gone after them.
    std::unique_ptr<QualityWindow> qualityWindow_;
    std::unique_ptr<AboutWindow> aboutWindow_;
    std::unique_ptr<HelpViewController> controller_;
};
