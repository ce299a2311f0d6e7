#include "UI/ConnectionController.h"

#include "UI/MainWindowController.h"

ConnectionController::ConnectionController(MainWindowController& owner) : owner_(owner) {}

ConnectionController::~ConnectionController() = default;

void ConnectionController::windowDidLoad() {}

void ConnectionController::onConnectSuccess(const std::string&) {}

void ConnectionController::onConnectFail() {}

void ConnectionController::onDisConnect() {}

void ConnectionController::onReceiveScreenCode(const std::string&) {}
