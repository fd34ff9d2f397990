#pragma once
// The GUI vocabulary every stage uses, on top of Dear ImGui.
//
// Windows   kFixedWindowFlags        flags of every on-screen window: placed by code, sized to content
// Sizes     scaled(v), scaled(x, y)  a size or position at content scale 1, grown to the screen's
// Keys      FrameKeys, frameKeys()   Enter and Esc pressed since the previous frame (shell/Input.h)
//           enterPressed()           either Enter key was pressed since the previous frame
//           escapePressed()          Esc was pressed since the previous frame
// Popups    anyPopupOpen()           whether any popup is open (read it before drawing, for the keys)
// Progress  stageProgressBar(s, f)   a stage's progress bar with the whole run's line beside it
#include <imgui.h>

#include "shell/Input.h"
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

// Whether any popup is open; a key answers the popup that was open as the frame began.
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
