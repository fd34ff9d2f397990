#include "tests/support/harness.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>

#include <imgui.h>
#include <imgui_internal.h>

#include "shell/Gui.h"

extern char** environ;

void harnessEvent(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void runTool(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        harnessEvent("spawn-failed " + args[0]);
        return;
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

void pressKey(const std::string& key) { runTool({"xdotool", "key", key}); }

void clickAt(float x, float y) {
    runTool({"xdotool", "mousemove", "--sync", std::to_string(static_cast<int>(x)), std::to_string(static_cast<int>(y)),
             "click", "1"});
}

ImGuiWindow* shownWindow(const char* name) {
    ImGuiWindow* w = ImGui::FindWindowByName(name);
    return w && w->WasActive ? w : nullptr;
}

std::string activeWindows(std::initializer_list<const char*> names) {
    std::string shown;
    for (const char* name : names) {
        ImGuiWindow* window = ImGui::FindWindowByName(name);
        if (window && window->Active) shown += std::string(shown.empty() ? "" : ",") + name;
    }
    return shown;
}

ScreenPoint popupButtonCentre(const char* popup, const char* first, const char* second, int n) {
    ImGuiWindow* w = shownWindow(popup);
    if (!w) return {};
    const ImGuiStyle& style = ImGui::GetStyle();
    const float firstWidth = ImGui::CalcTextSize(first).x + style.FramePadding.x * 2;
    const float secondWidth = second ? ImGui::CalcTextSize(second).x + style.FramePadding.x * 2 : 0.0f;
    const float padding = scaled(20.0f);
    const float y = w->Pos.y + w->Size.y - padding - ImGui::GetFrameHeight() / 2;
    const float x = w->Pos.x + padding + (n == 0 ? firstWidth / 2 : firstWidth + style.ItemSpacing.x + secondWidth / 2);
    return {x, y, true};
}
