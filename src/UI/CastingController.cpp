#include "UI/CastingController.h"

#include "UI/MainWindowController.h"

CastingController::CastingController(MainWindowController& owner) : owner_(owner) {}

CastingController::~CastingController() = default;

void CastingController::onVideoQuality(int, int, int, int) {}

void CastingController::tvRequestMirror() {}

void CastingController::tvIntErruptMirror() {}

void CastingController::tvMirrorLock() {}

void CastingController::supportChangeQuality(bool) {}

void CastingController::stopScreenFunction() {}

void CastingController::stopForDisconnect() {}
