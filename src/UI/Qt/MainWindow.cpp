#include "UI/Qt/MainWindow.h"

#include "Session/FileWindowController.h"
#include "UI/HelpViewController.h"
#include "UI/IpTextFormatter.h"
#include "Utils/LocalizedText.h"
#include "Utils/Log.h"
#include "Session/MainWindowController.h"
#include "Session/CastingController.h"
#include "Session/ConnectionController.h"
#include "Session/SendersController.h"
#include "Session/TvScreenController.h"
#include "Socket/FileShareOffer.h"
#include "UI/Qt/ButtonStyle.h"
#include "UI/Qt/CheckDeviceView.h"
#include "UI/Qt/DeviceNameWindow.h"
#include "UI/Qt/FormatterValidator.h"
#include "UI/Qt/GlobalPopWindow.h"
#include "UI/Qt/ForwardClicks.h"
#include "UI/Qt/HelpPopover.h"
#include "UI/Qt/ScreenProjectionCodeWindow.h"
#include "UI/Qt/Images.h"
#include "UI/Qt/PColors.h"
#include "UI/Qt/ReadingOrder.h"
#include "UI/Qt/SpinAnimation.h"
#include "UI/Qt/WindowPageView.h"
#include "UI/Qt/WindowPicker.h"
#include "UI/ToastPlacement.h"
#include "ui_MainWindowController.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>

#include <chrono>

namespace {

QString qText(const std::string& text)
{
    return QString::fromStdString(text);
}

QString localized(const char* key)
{
    return qText(LocalizedText::text(key));
}

// The tip under the address field says what failed in red, and that an attempt runs in grey.
constexpr const char* kErrorTipStyle = "color: rgb(251, 0, 7);";
constexpr const char* kBusyTipStyle = "color: rgb(110, 110, 110);";

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui_(std::make_unique<Ui::MainWindowController>())
{
    ui_->setupUi(this);
    setTexts();
    ui_->inputIPTextField->setStyleSheet("QLineEdit { border: 1px solid rgb(236, 237, 236); }");
    ui_->disConnectBtn->setStyleSheet(ButtonStyle::filled(PColors::getTextGray()));
    ui_->fileBtn->setStyleSheet(ButtonStyle::filled(PColors::getBlueColor()));
    FormatterValidator::attach(ui_->inputIPTextField, std::make_unique<IpTextFormatter>());
    ui_->inputErrorImage->setPixmap(Images::pixmap("InputError", {16, 16}));
    ui_->noDeviceImage->setPixmap(Images::pixmap("NoDevice", {96, 96}));
    ui_->refreshDevBtn->setIcon(Images::icon("Refresh"));
    refreshDevSpin_ = new SpinAnimation(ui_->refreshDevBtn, SpinAnimation::kRefreshTurn, 1, this);
    checkDeviceView_ = CheckDeviceView::placeIn(ui_->deviceListHolder);
    showInputError(std::nullopt);
    ui_->connectInfoTextField->hide();
    ui_->refreshDevBtn->hide();
    ui_->pages->setCurrentWidget(ui_->noDeviceView);
    castControls_ = new CastingControls(ui_->castControls, this);
    // The address is what the user types first.
    ui_->inputIPTextField->setFocus();
    sendersPanel_ = new SendersPanelView(ui_->connectListHolder);
    helpPopover_ = new HelpPopover(this);
    deviceNameWindow_ = new DeviceNameWindow(this);
    windowPage_ = new WindowPageView(ui_->windowCustomView);
    displayWindow_ = new DisplayWindow(this);
    fileWindow_ = new FileWindow(this);
    fileShareWindow_ = new FileShareWindow(this);
    downloadSuccessWindow_ = new DownloadResultWindow(this);
    roziTipWindow_ = new RoziTipWindow(this);
    connectActions();
}

MainWindow::~MainWindow() = default;

void MainWindow::setTexts()
{
    setWindowTitle(localized("STRING_TITLEBAR_MAIN"));
    ui_->titleBarText->setText(localized("STRING_TITLEBAR_MAIN"));
    ui_->needNetworkTip->setText(localized("STRING_NEED_NETWORK"));
    ui_->noDeviceText->setText(localized("STRING_NO_DEVICE"));
    ui_->connectInfoTextField->setText(localized("STRING_NO_CONNECTED"));
    ui_->inputIPTextField->setPlaceholderText(localized("STRING_IP_CODE_TIP"));
    ui_->disConnectBtn->setText(localized("STRING_DISCONNECT"));
    ui_->fileBtn->setText(localized("STRING_FILE_TITLE"));
    ui_->arrowButton->setToolTip(localized("STRING_CONNECT_TYPED"));
    ui_->refreshDevBtn->setToolTip(localized("STRING_REFRESH_DEVICES"));
    HelpPopover::dressButton(*ui_->helpButton);
}

void MainWindow::connectActions()
{
    connect(ui_->inputIPTextField, &QLineEdit::returnPressed, this, [this] {
        if (controller_)
            controller_->connection().inputIPTextField(ui_->inputIPTextField->text().toStdString());
    });
    forwardClicks(ui_->arrowButton, this, controller_, [this](MainWindowController& controller) {
        // The arrow submits the field as its return key does.
        controller.connection().inputIPTextField(ui_->inputIPTextField->text().toStdString());
    });
    forwardClicks(ui_->disConnectBtn, this, controller_,
                  [](MainWindowController& c) { c.connection().clickDisConnectBtn(); });
    forwardClicks(ui_->fileBtn, this, controller_,
                  [](MainWindowController& controller) { controller.fileWindow().goFileInfoWindow(); });
    connect(ui_->helpButton, &QToolButton::clicked, this, [this] { helpPopover_->showAt(*ui_->helpButton); });
    connect(checkDeviceView_, &CheckDeviceView::connectDevice, this, [this](const QString& address) {
        if (controller_)
            controller_->connection().connectDevice(address.toStdString());
    });
    // Only the picture turns: the list refreshes on discovery's own ticks.
    connect(ui_->refreshDevBtn, &QToolButton::clicked, refreshDevSpin_, &SpinAnimation::start);
}

void MainWindow::setController(MainWindowController* controller)
{
    controller_ = controller;
    castControls_->setController(controller);
    sendersPanel_->setController(controller);
    helpPopover_->setDelegates(controller ? &controller->casting() : nullptr, controller ? &controller->senders() : nullptr,
                               controller ? &controller->casting() : nullptr);
    deviceNameWindow_->setController(controller);
    windowPage_->setController(controller);
    displayWindow_->setController(controller ? &controller->viewing().displayWindow() : nullptr);
    fileWindow_->setController(controller);
    fileShareWindow_->setController(controller ? &controller->fileOffers() : nullptr);
    downloadSuccessWindow_->setController(controller ? &controller->fileOffers() : nullptr);
    roziTipWindow_->setController(controller);
}

QWidget* MainWindow::pageWidget(MainWindowPage page) const
{
    switch (page) {
    case MainWindowPage::NoDevice:
        return ui_->noDeviceView;
    case MainWindowPage::DeviceList:
        return ui_->customView;
    case MainWindowPage::Connected:
        return ui_->connectDeviceView;
    case MainWindowPage::Window:
        return ui_->windowInfoView;
    }
    return ui_->blankView;
}

std::optional<MainWindowPage> MainWindow::currentPage() const
{
    for (const MainWindowPage page : {MainWindowPage::NoDevice, MainWindowPage::DeviceList, MainWindowPage::Connected,
                                      MainWindowPage::Window}) {
        if (ui_->pages->currentWidget() == pageWidget(page))
            return page;
    }
    return std::nullopt;
}

void MainWindow::showToastTip(const std::string& message, bool hasClose, int64_t position, float showTime)
{
    PLOG("toast: %s", message.c_str());
    // A repeat replaces the toast of the same text rather than stacking on it.
    if (toastView_ && toastView_->message() == qText(message))
        toastView_->closeToast();
    auto* toast = new ToastView(qText(message), hasClose, this);
    const ToastPlacement::Origin origin = ToastPlacement::origin(
        {static_cast<double>(width()), static_cast<double>(height())},
        {static_cast<double>(toast->width()), static_cast<double>(toast->height())}, position);
    // The placement counts from the bottom-left corner; Qt counts from the top-left one.
    toast->move(static_cast<int>(origin.x), height() - static_cast<int>(origin.y) - toast->height());
    toast->show();
    toast->raise();
    toastView_ = toast;
    if (showTime > 0) {
        const auto after = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<float>(showTime));
        QTimer::singleShot(after, toast, &ToastView::closeToast);
    }
}

void MainWindow::showAlert(const std::string& message, const std::string& informative, std::function<void()> dismissed)
{
    // One alert of a kind at a time, however often the TV repeats what brings it.
    const std::string kind = message + '\n' + informative;
    if (const auto showing = alerts_.find(kind); showing != alerts_.end()) {
        if (showing->second.size() == 1)
            PLOG("alert \"%s\" shows already: its repeats wait for its dismissal", informative.c_str());
        showing->second.push_back(std::move(dismissed));
        return;
    }
    alerts_[kind].push_back(std::move(dismissed));
    auto* alert = new QMessageBox(QMessageBox::Warning, windowTitle(), qText(message), QMessageBox::Ok, this);
    alert->setObjectName("alert");
    alert->setInformativeText(qText(informative));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::finished, this, [this, kind](int) {
        const auto showing = alerts_.find(kind);
        if (showing == alerts_.end())
            return;
        const std::vector<std::function<void()>> dismissals = std::move(showing->second);
        alerts_.erase(showing);
        for (const auto& dismissal : dismissals) {
            if (dismissal)
                dismissal();
        }
    });
    alert->open();
}

void MainWindow::closeAlerts()
{
    for (QMessageBox* alert : findChildren<QMessageBox*>("alert", Qt::FindDirectChildrenOnly)) {
        // Closed without its dismissal: that spoke of the ended session.
        disconnect(alert, &QMessageBox::finished, this, nullptr);
        alert->close();
    }
}

void MainWindow::showPage(MainWindowPage page)
{
    const bool changed = ui_->pages->currentWidget() != pageWidget(page);
    ui_->pages->setCurrentWidget(pageWidget(page));
    // The address field stands above the pages with no TV and the device list; while connected the
    // cast controls take the keyboard.
    ui_->addressRow->setVisible(page == MainWindowPage::NoDevice || page == MainWindowPage::DeviceList);
    if (changed && page == MainWindowPage::Connected)
        castControls_->setFocus();
    const bool deviceList = page == MainWindowPage::DeviceList;
    ui_->connectInfoTextField->setVisible(deviceList);
    ui_->refreshDevBtn->setVisible(deviceList);
}

void MainWindow::hidePage(MainWindowPage page)
{
    if (ui_->pages->currentWidget() == pageWidget(page))
        ui_->pages->setCurrentWidget(ui_->blankView);
}

void MainWindow::showDevices(const std::vector<TvDeviceInfo>& devices)
{
    checkDeviceView_->reloadData(devices);
}

void MainWindow::showConnecting(bool connecting)
{
    ui_->inputIPTextField->setReadOnly(connecting);
    ui_->arrowButton->setEnabled(!connecting);
    ui_->inputErrorImage->hide();
    ui_->inputErrorTip->setStyleSheet(connecting ? kBusyTipStyle : kErrorTipStyle);
    ui_->inputErrorTip->setText(connecting ? localized("STRING_CONNECTING") : QString());
    ui_->inputErrorTip->setVisible(connecting);
}

void MainWindow::showInputError(const std::optional<std::string>& tip)
{
    ui_->inputErrorTip->setStyleSheet(kErrorTipStyle);
    ui_->inputErrorTip->setText(qText(tip.value_or("")));
    ui_->inputErrorTip->setVisible(tip.has_value());
    ui_->inputErrorImage->setVisible(tip.has_value());
}

void MainWindow::showConnectInfo(const std::string& text)
{
    ui_->connectInfoTextField->setText(qText(text));
}

void MainWindow::showTvName(const std::string& name)
{
    ui_->deviceName->setText(qText(name));
}

void MainWindow::showTvAddress(const std::string& address)
{
    ui_->deviceIP->setText(qText(address));
}

void MainWindow::showHelpForConnection(bool connected)
{
    helpPopover_->controller().showHelpForConnection(connected);
}

void MainWindow::showQualityEntry(bool shown)
{
    helpPopover_->controller().showQualityEntry(shown);
}

void MainWindow::showDeviceNameWindow(const std::string& placeholder)
{
    deviceNameWindow_->showWithPlaceholder(placeholder);
}

void MainWindow::hideDeviceNameWindow()
{
    deviceNameWindow_->hide();
}
void MainWindow::showSessionControlsAtRest()
{
    castControls_->showAtRest();
}

void MainWindow::showFileShareWindow(const FileShareOffer& offer, int64_t secondsRemaining)
{
    downloadSuccessWindow_->hide();
    // An offer may come before the TV's name does.
    const QString name = ui_->deviceName->text();
    fileShareWindow_->showOffer(name.isEmpty() ? localized("STRING_THE_TV") : name, offer, secondsRemaining);
}

void MainWindow::showOfferTimedOut()
{
    showToastTip(LocalizedText::text("STRING_FILE_OFFER_TIMED_OUT"), true, 1, kOfferTimedOutToastSeconds);
}

bool MainWindow::focusNextPrevChild(bool next)
{
    // The pages' lists and grids fill in after the buttons around them: Tab follows the page as it reads.
    return ReadingOrder::moveFocus(*this, next) || QMainWindow::focusNextPrevChild(next);
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape reaches here from the window's own controls only (a shortcut would take it from the
    // casting-code window too): it cancels a connect under way.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && controller_) {
        controller_->connection().cancelConnect();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!closeAsked_ && controller_ && controller_->casting().castRunning()) {
        event->ignore();
        if (!quitWhileCasting_) {
            quitWhileCasting_ = new GlobalPopWindow(localized("STRING_QUIT_CASTING_TITLE"),
                                                    localized("STRING_QUIT_CASTING_CONTENT"),
                                                    localized("STRING_QUIT_CASTING_QUIT"),
                                                    localized("STRING_QUIT_CASTING_KEEP"), this);
            quitWhileCasting_->setObjectName("quitWhileCastingWindow");
            quitWhileCasting_->setNormalButtonBlock([this] {
                closeAsked_ = true;
                close();
            });
        }
        quitWhileCasting_->showWindow();
        return;
    }
    Q_EMIT windowWillClose();
    QMainWindow::closeEvent(event);
}

void MainWindow::setExtendSnapshot(const BgraFrame& picture)
{
    windowPage_->picker().setExtendSnapshot(picture);
}

void MainWindow::setExtendAvailable(bool available)
{
    windowPage_->picker().setExtendAvailable(available);
}

void MainWindow::showWindowStartButton(WindowStartButton state)
{
    windowPage_->showWindowStartButton(state);
}

void MainWindow::hideToast()
{
    if (toastView_)
        toastView_->closeToast();
}

std::string MainWindow::castingCodeFieldText() const
{
    return castControls_->castingCodeWindow().castingCodeText();
}
