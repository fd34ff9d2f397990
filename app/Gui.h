#pragma once
#include <imgui.h>

// Every on-screen window is placed by code each frame and sized to its content.
inline constexpr ImGuiWindowFlags kFixedWindowFlags =
    ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
    ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_AlwaysAutoResize;
static_assert(kFixedWindowFlags == 111);
