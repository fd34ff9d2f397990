#include "stages/SubmitStage.h"

#include <imgui.h>

#include "core/globals.h"

void SubmitStage::drawGui() {
    constexpr ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                       ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoScrollbar |
                                       ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_AlwaysAutoResize;
    ImGui::SetNextWindowPos(ImVec2(static_cast<float>(monitorWidth / 2), static_cast<float>(monitorHeight / 2)),
                            ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    if (ImGui::Begin("Submitting results", nullptr, flags)) ImGui::Text("Submitting results, please wait...");
    ImGui::End();
}
