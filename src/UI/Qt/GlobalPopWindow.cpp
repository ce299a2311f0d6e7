#include "UI/Qt/GlobalPopWindow.h"

#include "ui_GlobalPopWindow.h"

#include <QPointer>
#include <QScreen>

GlobalPopWindow::GlobalPopWindow(const QString& title, const QString& message, const QString& normalButtonText,
                                 const QString& highlightButtonText, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::GlobalPopWindow>())
{
    ui_->setupUi(this);
    setWindowTitle(title);
    ui_->titleLabel->setText(title);
    ui_->messageLabel->setText(message);
    ui_->normalButton->setText(normalButtonText);
    ui_->highlightButton->setText(highlightButtonText);
    connect(ui_->normalButton, &QPushButton::clicked, this, &GlobalPopWindow::normalHandler);
    connect(ui_->highlightButton, &QPushButton::clicked, this, &GlobalPopWindow::highlightHandler);
}

GlobalPopWindow::~GlobalPopWindow() = default;

void GlobalPopWindow::showWindow()
{
    show();
    raise();
    activateWindow();
    if (const QScreen* shown = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(shown->availableGeometry().center());
        move(frame.topLeft());
    }
}

void GlobalPopWindow::normalHandler()
{
    runThenClose(normalButtonBlock_);
}

void GlobalPopWindow::highlightHandler()
{
    runThenClose(highlightButtonBlock_);
}

void GlobalPopWindow::runThenClose(const std::function<void()>& block)
{
    // A copy: the closure may set a new one, or let the window go, while it runs.
    const std::function<void()> running = block;
    const QPointer<GlobalPopWindow> self(this);
    if (running)
        running();
    if (self)
        close();
}
