#include "stages/WelcomeStage.h"

#include <imgui.h>

#include "shell/Gui.h"
#include "assets/assets.h"
#include "core/globals.h"
#include "sysinfo/power.h"

#ifndef TALLYFORGE_RESULT_HOST
#error "TALLYFORGE_RESULT_HOST must be defined by the build"
#endif
#ifndef TALLYFORGE_REVISION
#define TALLYFORGE_REVISION "unknown"
#endif

namespace {

constexpr const char* kWelcomeText =
    "Welcome to the Tallyforge Benchmark!\n\nThe following test will assess the performance of your computer.\n"
    "Please avoid using the computer while test is running, the system may appear unresponsive\n"
    "and background programs may interfere.\n\nThe test will take approximately 2 minutes to complete.";
}  // namespace

std::string sceneCredits() {
    std::string text = asText(sceneCreditsData);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::string welcomeFooter() { return std::string(TALLYFORGE_RESULT_HOST) + " - rev: " + TALLYFORGE_REVISION; }

void WelcomeStage::start() {
    auto program = buildShaderProgram(materialFragmentShader, modelVertexShader);
    {
        const std::vector<Texture> textures{
            Texture(Diffuse, backgroundImage, static_cast<std::int32_t>(backgroundImageSize))};
        models.push_back(makeTexturedQuadModel(program, textures));
    }
    logo = std::make_shared<Texture>(Diffuse, logoImage, static_cast<std::int32_t>(logoImageSize));
}

void WelcomeStage::drawGui() {
    // Enter is the start button's only while no popup (this stage's or the shell's) is up.
    const bool keysToWelcome = !anyPopupOpen();
    ImGui::SetNextWindowPos(ImVec2(static_cast<float>(monitorWidth / 2), static_cast<float>(monitorHeight / 2)),
                            ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, scaled(20, 20));
    if (ImGui::Begin("Welcome", nullptr, kFixedWindowFlags)) {
        const float logoWidth = logo ? scaled(static_cast<float>(logo->width)) : 0.0f;
        const float logoHeight = logo ? scaled(static_cast<float>(logo->height)) : 0.0f;
        ImGui::SetCursorPos(ImVec2((ImGui::GetWindowWidth() - logoWidth) * 0.5f, scaled(20.0f)));
        ImGui::Image(reinterpret_cast<ImTextureID>(static_cast<std::uintptr_t>(logo ? logo->handle : 0)),
                     ImVec2(logoWidth, logoHeight), ImVec2(0, 1), ImVec2(1, 0), ImVec4(1, 1, 1, 1),
                     ImVec4(0, 0, 0, 0));
        ImGui::Dummy(scaled(0, 20));
        ImGui::Text("%s", kWelcomeText);
        ImGui::Dummy(scaled(0, 10));
        const bool warningWasOpen = ImGui::IsPopupOpen("Warning");
        if (ImGui::Button("Start Benchmark", ImVec2(ImGui::GetColumnWidth(), scaled(40.0f))) ||
            (keysToWelcome && enterPressed())) {
            if (isOnBattery())
                ImGui::OpenPopup("Warning");
            else
                startRequested = true;
        }
        if (ImGui::BeginPopupModal("Warning", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
            ImGui::Text(
                "You are not currently connected to a power source.\nRunning the benchmark on battery power may "
                "lead to inaccurate results.\nMake sure you have the charger connected to your device before "
                "continuing.");
            ImGui::Dummy(scaled(0, 10));
            if (ImGui::Button("Continue", ImVec2(0, 0)) || (warningWasOpen && enterPressed())) startRequested = true;
            ImGui::SameLine(0.0f, -1.0f);
            if (ImGui::Button("Cancel", ImVec2(0, 0)) || (warningWasOpen && escapePressed())) ImGui::CloseCurrentPopup();
            ImGui::EndPopup();
        }
    }
    ImGui::PopStyleVar(1);
    ImGui::End();

    ImGui::SetNextWindowPos(ImVec2(static_cast<float>(monitorWidth) - scaled(10.0f),
                                   static_cast<float>(monitorHeight) - scaled(10.0f)),
                            ImGuiCond_Always, ImVec2(1, 1));
    if (ImGui::Begin("Info", nullptr, kFixedWindowFlags)) {
        const bool creditsWasOpen = ImGui::IsPopupOpen("Credits");
        ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0, 0, 0, 0));
        ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(1, 1, 1, 0.5f));
        if (ImGui::Button("Credits", ImVec2(0, 0))) ImGui::OpenPopup("Credits");
        ImGui::PopStyleColor(2);
        ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, scaled(20, 20));
        if (ImGui::BeginPopupModal("Credits", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
            static const std::string credits = sceneCredits();
            ImGui::Text("%s", credits.c_str());
            ImGui::Dummy(scaled(0, 10));
            if (ImGui::Button("Close", ImVec2(0, 0)) || (creditsWasOpen && (escapePressed() || enterPressed())))
                ImGui::CloseCurrentPopup();
            ImGui::EndPopup();
        }
        ImGui::PopStyleVar(1);
        ImGui::SameLine(0.0f, -1.0f);
        static const std::string footer = welcomeFooter();
        ImGui::Text("%s", footer.c_str());
    }
    ImGui::End();
}

bool WelcomeStage::isFinished(StageResults&) { return startRequested; }
