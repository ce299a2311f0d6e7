#include "UI/SelectedQualityIndex.h"

std::atomic<int32_t> gSelectedQualityIndex{0};
