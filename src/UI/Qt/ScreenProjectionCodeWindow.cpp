#include "UI/Qt/ScreenProjectionCodeWindow.h"

#include "UI/Qt/ForwardClicks.h"
#include "Utils/LocalizedText.h"
#include "Session/MainWindowController.h"
#include "Session/CastingController.h"
#include "ui_ScreenProjectionCodeWindow.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

QString localized(const char* key)
{
    return QString::fromStdString(LocalizedText::text(key));
}

} // namespace

ScreenProjectionCodeWindow::ScreenProjectionCodeWindow(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::ScreenProjectionCodeWindow>())
{
    ui_->setupUi(this);
    setWindowTitle(localized("STRING_SCREEN_CODE"));
    ui_->screenCodeTitle->setText(localized("STRING_SCREEN_CODE_TITLE"));
    ui_->inputScreenProjectionCodeTextField->setPlaceholderText(localized("STRING_SCREEN_CODE"));
    ui_->screenCodeOk->setText(localized("STRING_OK"));
    ui_->screenCodeCancel->setText(localized("STRING_CANCEL"));
    ui_->screenCodeError->hide();
    // No default button: Return reaches the controller through its key monitor, as a press of OK.
    forwardClicks(ui_->screenCodeOk, this, controller_, [this](MainWindowController& controller) {
        controller.casting().inputScreenProjectionCode(castingCodeText());
    });
    connect(ui_->screenCodeCancel, &QPushButton::clicked, this, &QDialog::reject);
    // Escape and the window's close button reject too: each is the Cancel of the window.
    connect(this, &QDialog::rejected, this, [this] {
        if (controller_)
            controller_->casting().cancelScreenProjectionCodeButton();
    });
}

ScreenProjectionCodeWindow::~ScreenProjectionCodeWindow() = default;

void ScreenProjectionCodeWindow::showInFront()
{
    centre();
    show();
    raise();
    activateWindow();
    ui_->inputScreenProjectionCodeTextField->setFocus();
}

void ScreenProjectionCodeWindow::centre()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void ScreenProjectionCodeWindow::setCastingCodeText(const std::string& text)
{
    ui_->inputScreenProjectionCodeTextField->setText(QString::fromStdString(text));
}

std::string ScreenProjectionCodeWindow::castingCodeText() const
{
    return ui_->inputScreenProjectionCodeTextField->text().toStdString();
}

void ScreenProjectionCodeWindow::showError(const std::string& error)
{
    ui_->screenCodeError->setText(QString::fromStdString(error));
    ui_->screenCodeError->setVisible(!error.empty());
    if (!error.empty())
        ui_->inputScreenProjectionCodeTextField->selectAll();
}

std::string ScreenProjectionCodeWindow::errorText() const
{
    return ui_->screenCodeError->isVisible() ? ui_->screenCodeError->text().toStdString() : std::string();
}
