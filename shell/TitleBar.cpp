#include "shell/TitleBar.h"

#include <imgui.h>

#include "shell/Gui.h"
#include "core/globals.h"

bool drawTitleBar(const FrameKeys& keys, bool popupWasOpen) {
    bool quitWasOpen = false;
    ImGui::SetNextWindowPos(ImVec2(0, 0), ImGuiCond_Always, ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(static_cast<float>(monitorWidth), scaled(36.0f)), ImGuiCond_Always);
    if (ImGui::Begin("Title", nullptr, kFixedWindowFlags)) {
        quitWasOpen = ImGui::IsPopupOpen("Quit?");
        ImGui::Text("%s", "Tallyforge Benchmark");
        ImGui::SameLine(static_cast<float>(monitorWidth) - scaled(25.0f), -1.0f);
        ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0, 0, 0, 0));
        ImGui::PushStyleColor(ImGuiCol_ButtonHovered, IM_COL32(255, 64, 84, 255));
        ImGui::PushStyleColor(ImGuiCol_ButtonActive, IM_COL32(255, 44, 66, 255));
        if (ImGui::Button("X", ImVec2(0, 0)) || (keys.escape && !popupWasOpen)) ImGui::OpenPopup("Quit?");
        ImGui::PopStyleColor(3);
    }
    const bool quit = drawQuitDialog(keys, quitWasOpen);
    ImGui::End();
    return quit;
}

bool drawQuitDialog(const FrameKeys& keys, bool wasOpen) {
    bool quit = false;
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, scaled(20, 20));
    if (ImGui::BeginPopupModal("Quit?", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
        ImGui::Text("Are you sure you want to quit? The benchmark will close without a result.");
        ImGui::Dummy(scaled(0, 10));
        if (ImGui::Button("Quit", ImVec2(0, 0)) || (wasOpen && keys.enter)) quit = true;
        ImGui::SameLine(0.0f, -1.0f);
        if (ImGui::Button("Cancel", ImVec2(0, 0)) || (wasOpen && keys.escape)) ImGui::CloseCurrentPopup();
        ImGui::EndPopup();
    }
    ImGui::PopStyleVar(1);
    return quit;
}
