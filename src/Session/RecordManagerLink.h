#pragma once

#include "Media/EncoderH264/RecordManager.h"

class TCPManager;

// What a cast's RecordManager needs of the TV link, bound to manager: its session key, the release
// of the link when the capture fails, and the TV's requests for the parameter sets. manager outlives
// the cast and the main queue's tasks.
RecordManager::Link recordManagerLink(TCPManager& manager);
