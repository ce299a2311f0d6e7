#include "UI/SendersController.h"

#include "UI/MainWindowController.h"

SendersController::SendersController(MainWindowController& owner) : owner_(owner) {}

SendersController::~SendersController() = default;

void SendersController::connectListMessage(const std::string&) {}

void SendersController::changeButtonName(int64_t, int) {}

void SendersController::activeVersionHandler(int) {}

void SendersController::isSpeakerHandler(bool) {}
