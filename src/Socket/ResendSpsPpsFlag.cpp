#include "Socket/ResendSpsPpsFlag.h"

std::atomic<uint8_t> gResendSpsPpsFlag{0};
