#include "UI/Qt/RoziTipWindow.h"

#include "Session/MainWindowController.h"
#include "UI/Qt/TopLevelWindows.h"
#include "UI/Qt/UiText.h"
#include "ui_RoziTipWindow.h"

RoziTipWindow::RoziTipWindow(QWidget* parent)
    : QWidget(parent, Qt::Dialog), ui_(std::make_unique<Ui::RoziTipWindow>())
{
    ui_->setupUi(this);
    setWindowTitle(UiText::localized("STRING_TITLEBAR_MAIN"));
    ui_->roziKnowBtn->setText(UiText::localized("STRING_ROZI_KNOW"));
    TopLevelWindows::onEscape(*this, [this] { ui_->roziKnowBtn->click(); });
    connect(ui_->roziKnowBtn, &QPushButton::clicked, this, [this] {
        if (controller_)
            controller_->cancelRoziTipWindow();
        else
            hide();
    });
}

RoziTipWindow::~RoziTipWindow() = default;

void RoziTipWindow::showWithText(const std::string& text)
{
    ui_->errorTipText->setText(UiText::of(text));
    TopLevelWindows::showCentred(*this);
}

std::string RoziTipWindow::text() const
{
    return ui_->errorTipText->text().toStdString();
}
