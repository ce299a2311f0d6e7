#include "UI/TvControlController.h"

#include "UI/MainWindowController.h"

TvControlController::TvControlController(MainWindowController& owner) : owner_(owner) {}

TvControlController::~TvControlController() = default;

void TvControlController::onTvcontrolReceived(int, const std::vector<uint8_t>&) {}

void TvControlController::tvKeyHandle(int) {}
