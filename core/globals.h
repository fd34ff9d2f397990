#pragma once
#include <cstdint>

// Size of the primary monitor's video mode and the window's horizontal content scale,
// written once at start-up before any stage is constructed.
extern std::int32_t monitorWidth;
extern std::int32_t monitorHeight;
extern float contentScaleX;
