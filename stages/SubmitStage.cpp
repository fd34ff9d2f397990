#include "stages/SubmitStage.h"

#include <imgui.h>

#include "shell/Gui.h"
#include "core/globals.h"

void SubmitStage::drawGui() {
    ImGui::SetNextWindowPos(ImVec2(static_cast<float>(monitorWidth / 2), static_cast<float>(monitorHeight / 2)),
                            ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    if (ImGui::Begin("Submitting results", nullptr, kFixedWindowFlags)) ImGui::Text("Submitting results, please wait...");
    ImGui::End();
}
