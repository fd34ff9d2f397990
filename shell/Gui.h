#pragma once
#include <imgui.h>

#include "shell/Stage.h"
#include "core/globals.h"

// Every on-screen window is placed by code each frame and sized to its content.
inline constexpr ImGuiWindowFlags kFixedWindowFlags =
    ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
    ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_AlwaysAutoResize;
static_assert(kFixedWindowFlags == 111);

// Fixed sizes and positions are given for a content scale of 1 and grow with the screen's,
// like the font, so a high-DPI screen shows the same layout, only sharper.
inline float scaled(float value) { return value * contentScaleX; }
inline ImVec2 scaled(float x, float y) { return ImVec2(x * contentScaleX, y * contentScaleX); }

// The keys that answer buttons, pressed since the previous frame began (auto-repeat not
// counted); the shell collects them from the window and hands them to the frame.
struct FrameKeys {
    bool enter = false;   // either Enter key
    bool escape = false;
};
const FrameKeys& frameKeys();
inline bool enterPressed() { return frameKeys().enter; }
inline bool escapePressed() { return frameKeys().escape; }
inline bool anyPopupOpen() { return ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopup); }

// A stage's own progress bar, with the whole run's line beside it when the shell gave one.
inline void stageProgressBar(const Stage& stage, float fraction) {
    if (!stage.runProgress.empty()) {
        ImGui::AlignTextToFramePadding();
        ImGui::TextUnformatted(stage.runProgress.c_str());
        ImGui::SameLine(0.0f, -1.0f);
    }
    ImGui::ProgressBar(fraction, ImVec2(0, 0));
}
