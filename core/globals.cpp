#include "core/globals.h"

std::int32_t monitorWidth = 0;
std::int32_t monitorHeight = 0;
float contentScaleX = 1.0f;
