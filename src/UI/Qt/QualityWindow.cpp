#include "UI/Qt/QualityWindow.h"

#include "UI/QualityWindowController.h"
#include "UI/Qt/ForwardClicks.h"
#include "UI/Qt/Images.h"
#include "UI/Qt/TopLevelWindows.h"
#include "UI/Qt/UiText.h"
#include "ui_QualityWindowController.h"

#include <QCloseEvent>

QualityWindow::QualityWindow(QWidget* parent)
    : QWidget(parent, Qt::Dialog), ui_(std::make_unique<Ui::QualityWindowController>())
{
    ui_->setupUi(this);
    setWindowTitle(UiText::localized("STRING_QUALITY"));
    // Each choice with the picture size it casts at.
    ui_->autoText->setText(UiText::localized("STRING_QUALITY_AUTO"));
    ui_->button1080P->setText(UiText::localized("STRING_QUALITY_1080P"));
    ui_->button720P->setText(UiText::localized("STRING_QUALITY_720P"));
    ui_->button2K->setText(UiText::localized("STRING_QUALITY_2K"));
    ui_->sumbit->setText(UiText::localized("STRING_OK"));
    ui_->cancelWindow->setText(UiText::localized("STRING_CANCEL"));
    checkMarks_ = {ui_->selectAuto, ui_->select1080, ui_->select720, ui_->select2K};
    const QPixmap check = Images::pixmap("Selected", QSize(20, 20));
    for (QLabel* mark : checkMarks_) {
        mark->setPixmap(check);
        // The column keeps its width whichever mark shows.
        QSizePolicy policy = mark->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        mark->setSizePolicy(policy);
        mark->hide();
    }
    const std::array<QPushButton*, 4> choices{ui_->autoText, ui_->button1080P, ui_->button720P, ui_->button2K};
    for (size_t index = 0; index < choices.size(); ++index) {
        forwardClicks(choices[index], this, controller_,
                      [index](QualityWindowController& controller) { controller.selectEvent(index); });
    }
    forwardClicks(ui_->sumbit, this, controller_, &QualityWindowController::sumbit);
    forwardClicks(ui_->cancelWindow, this, controller_, &QualityWindowController::cancelWindow);
    TopLevelWindows::onEscape(*this, [this] { ui_->cancelWindow->click(); });
    TopLevelWindows::onReturn(*this, [this] { ui_->sumbit->click(); });
}

QualityWindow::~QualityWindow() = default;

void QualityWindow::setController(QualityWindowController* controller)
{
    controller_ = controller;
    if (controller_)
        controller_->windowDidLoad();
}

void QualityWindow::showCheckMark(size_t index)
{
    for (size_t mark = 0; mark < checkMarks_.size(); ++mark)
        checkMarks_[mark]->setVisible(mark == index);
}

void QualityWindow::showWindow()
{
    TopLevelWindows::showCentred(*this);
}

void QualityWindow::closeWindow()
{
    hide();
}

void QualityWindow::closeEvent(QCloseEvent* event)
{
    // OK and Cancel hide the window; only the close box (or the application's end) comes here.
    if (controller_)
        controller_->windowWillClose();
    QWidget::closeEvent(event);
}
