#include "UI/Qt/AboutWindow.h"

#include "UI/Qt/TopLevelWindows.h"
#include "UI/Qt/UiText.h"
#include "ui_AboutWindowController.h"

#include <cmath>

namespace {

Qt::Alignment alignment(int platformAlignment)
{
    return (platformAlignment == AboutWindowLook::kLeft ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter;
}

} // namespace

AboutWindow::AboutWindow(QWidget* parent, AboutWindowController::Services services)
    : QWidget(parent, Qt::Dialog), ui_(std::make_unique<Ui::AboutWindowController>())
{
    ui_->setupUi(this);
    setWindowTitle(UiText::localized("STRING_ABOUT"));
    controller_ = std::make_unique<AboutWindowController>(*this, std::move(services));
    connect(ui_->okButton, &QPushButton::clicked, this, [this] { controller_->okButton(); });
    connect(ui_->cancelButton, &QPushButton::clicked, this, [this] { controller_->cancelButton(); });
    TopLevelWindows::onEscape(*this, [this] { controller_->cancelButton(); });
    controller_->windowDidLoad();
}

AboutWindow::~AboutWindow() = default;

void AboutWindow::render(const AboutWindowLook& look)
{
    ui_->aboutText->setText(UiText::of(look.aboutText));
    ui_->verTextField->setText(UiText::of(look.versionText));
    ui_->verTextField->setAlignment(alignment(look.versionAlignment));
    ui_->verTextField->setVisible(look.versionVisible);
    ui_->downloadTipsTextField->setText(UiText::of(look.tipsText));
    ui_->downloadTipsTextField->setVisible(look.tipsVisible);
    // A bar whose bounds are both 0 moves on its own: the size is unknown.
    ui_->updateProgressIndicator->setRange(0, look.progressIndeterminate ? 0 : 100);
    ui_->updateProgressIndicator->setValue(static_cast<int>(std::lround(look.progressValue)));
    ui_->updateProgressIndicator->setVisible(look.progressVisible);
    ui_->updatePercentageTextField->setText(UiText::of(look.percentageText));
    ui_->updatePercentageTextField->setVisible(look.percentageVisible);
    ui_->errorText->setText(UiText::of(look.errorText));
    ui_->errorText->setVisible(!look.errorText.empty());
    ui_->okButton->setText(UiText::of(look.okTitle));
    ui_->okButton->setEnabled(look.okEnabled);
    ui_->cancelButton->setText(UiText::of(look.cancelTitle));
    ui_->cancelButton->setVisible(look.cancelVisible);
}

void AboutWindow::showWindow()
{
    TopLevelWindows::showCentred(*this);
}

void AboutWindow::closeWindow()
{
    hide();
}
