#include "UI/Qt/HelpPopover.h"

#include "App/AboutServices.h"
#include "UI/HelpViewController.h"
#include "UI/Qt/AboutWindow.h"
#include "UI/Qt/Images.h"
#include "UI/Qt/QualityWindow.h"
#include "UI/Qt/UiText.h"
#include "Utils/AppInfo.h"
#include "ui_HelpViewController.h"

#include <QCoreApplication>
#include <QScreen>

#include <algorithm>
#include <utility>

namespace {

QIcon switchImage(bool on)
{
    return Images::icon(on ? "SoundON" : "SoundOff");
}

} // namespace

HelpPopover::HelpPopover(QWidget* parent, std::function<void(bool on)> logRedirect)
    : QFrame(parent, Qt::Popup),
      ui_(std::make_unique<Ui::HelpViewController>()),
      qualityWindow_(std::make_unique<QualityWindow>(parent)),
      aboutWindow_(std::make_unique<AboutWindow>(
          parent, AboutServices::forApplication(AppInfo::main(), [] { QCoreApplication::quit(); })))
{
    ui_->setupUi(this);
    setObjectName("helpPopover");
    ui_->soundSwitchTextButton->setText(UiText::localized("STRING_SOUND"));
    ui_->logSwitchTextButton->setText(UiText::localized("STRING_LOG_OPEN"));
    ui_->deviceNameTextButton->setText(UiText::localized("STRING_DEVICE_NAME"));
    ui_->qualityTextButton->setText(UiText::localized("STRING_QUALITY"));
    ui_->aboutTextButton->setText(UiText::localized("STRING_ABOUT"));
    ui_->deviceNameButton->setIcon(Images::icon("DeviceName"));
    ui_->qualityButton->setIcon(Images::icon("Quality"));
    ui_->aboutButton->setIcon(Images::icon("About"));
    // The keys walk the entries' texts; each icon does what its text does, so it takes no keys, and
    // its tip is that text.
    const std::pair<QToolButton*, const char*> icons[] = {{ui_->soundSwitchButton, "STRING_SOUND"},
                                                           {ui_->logSwitchButton, "STRING_LOG_OPEN"},
                                                           {ui_->deviceNameButton, "STRING_DEVICE_NAME"},
                                                           {ui_->qualityButton, "STRING_QUALITY"},
                                                           {ui_->aboutButton, "STRING_ABOUT"}};
    for (const auto& [icon, tip] : icons) {
        icon->setFocusPolicy(Qt::NoFocus);
        icon->setToolTip(UiText::localized(tip));
    }
    setFixedSize(HelpViewController::kContentWidth, HelpViewController::kContentHeight);
    controller_ = std::make_unique<HelpViewController>(*this, *qualityWindow_, std::move(logRedirect));
    qualityWindow_->setController(&controller_->qualityWindowController());
    controller_->setAboutWindowController(&aboutWindow_->controller());
    connectActions();
    controller_->viewDidLoad();
}

void HelpPopover::dressButton(QToolButton& button)
{
    button.setIcon(Images::icon("Settings"));
    button.setText(UiText::localized("STRING_SETTINGS"));
}

HelpPopover::~HelpPopover()
{
    qualityWindow_->setController(nullptr);
    controller_->setAboutWindowController(nullptr);
}

void HelpPopover::connectActions()
{
    connect(ui_->soundSwitchButton, &QToolButton::clicked, this,
            [this](bool on) { controller_->soundSwitchButton(on); });
    connect(ui_->soundSwitchTextButton, &QPushButton::clicked, this, [this] { controller_->soundSwitchTextButton(); });
    connect(ui_->logSwitchButton, &QToolButton::clicked, this, [this](bool on) { controller_->clickLogSwitch(on); });
    connect(ui_->logSwitchTextButton, &QPushButton::clicked, this, [this] { controller_->clickLogSwitchText(); });
    // The entries that open a window close the pop-up first, which would otherwise hold the input.
    const auto deviceName = [this] {
        hide();
        controller_->DeviceNameButton();
    };
    connect(ui_->deviceNameButton, &QToolButton::clicked, this, deviceName);
    connect(ui_->deviceNameTextButton, &QPushButton::clicked, this, deviceName);
    const auto quality = [this] {
        hide();
        controller_->qualityButton();
    };
    connect(ui_->qualityButton, &QToolButton::clicked, this, quality);
    connect(ui_->qualityTextButton, &QPushButton::clicked, this, quality);
    const auto about = [this] {
        hide();
        controller_->aboutButton();
    };
    connect(ui_->aboutButton, &QToolButton::clicked, this, about);
    connect(ui_->aboutTextButton, &QPushButton::clicked, this, about);
}

void HelpPopover::setDelegates(SoundSwitchStateDelegate* sound, ShowChangeDeviceNameDelegate* deviceName,
                               UserChangeVideoQualityDelegate* quality)
{
    controller_->setSoundSwitchDelegate(sound);
    controller_->setShowChangeDeviceWindowDelegate(deviceName);
    controller_->setUserChangeVideoQualityDelegate(quality);
}

void HelpPopover::showAt(const QWidget& anchor)
{
    const QPoint above = anchor.mapToGlobal(QPoint(anchor.width() / 2, 0));
    const QPoint below = anchor.mapToGlobal(QPoint(anchor.width() / 2, anchor.height()));
    QRect frame(QPoint(above.x() - width() / 2, above.y() - height()), size());
    if (const QScreen* screen = anchor.screen()) {
        const QRect room = screen->availableGeometry();
        if (frame.top() < room.top())
            frame.moveTop(below.y());
        frame.moveLeft(std::max(room.left(), std::min(frame.left(), room.right() + 1 - frame.width())));
    }
    move(frame.topLeft());
    show();
    raise();
    ui_->soundSwitchTextButton->setFocus(Qt::PopupFocusReason);
}

void HelpPopover::showSoundSwitch(bool on)
{
    ui_->soundSwitchButton->setChecked(on);
    ui_->soundSwitchButton->setIcon(switchImage(on));
}

void HelpPopover::showLogSwitch(bool on)
{
    ui_->logSwitchButton->setChecked(on);
    ui_->logSwitchButton->setIcon(switchImage(on));
}

void HelpPopover::showLogFilePath(const std::string& path)
{
    // Where the log goes: the tip of the switch and of its label.
    for (QAbstractButton* button : {static_cast<QAbstractButton*>(ui_->logSwitchButton),
                                    static_cast<QAbstractButton*>(ui_->logSwitchTextButton)})
        button->setToolTip(UiText::of(path));
}

void HelpPopover::showQualityInfo(const std::string& text)
{
    ui_->qualityInfo->setText(UiText::of(text));
}

void HelpPopover::setContentSize(int width, int height)
{
    setFixedSize(width, height);
}

void HelpPopover::showQualityEntry(bool shown)
{
    ui_->qualityEntry->setVisible(shown);
}
