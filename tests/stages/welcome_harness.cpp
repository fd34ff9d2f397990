// Runs the real welcome stage in the real shell and presses its buttons with xdotool,
// printing what happened one event a line. The management provider reads the fixture
// tree given as the second argument, so the power check sees the battery it describes.
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <imgui.h>
#include <imgui_internal.h>

#include "app/Application.h"
#include "core/globals.h"
#include "stages/WelcomeStage.h"
#include "sysinfo/linux_provider.h"

extern char** environ;

namespace {

void event(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return event("spawn-failed");
    int status = 0;
    waitpid(pid, &status, 0);
}

struct Point {
    float x = 0, y = 0;
    bool shown = false;
};

void click(Point p) {
    run({"xdotool", "mousemove", "--sync", std::to_string(static_cast<int>(p.x)),
         std::to_string(static_cast<int>(p.y)), "click", "1"});
}

std::string screenshot(const std::string& name) {
    const char* dir = std::getenv("TALLYFORGE_SCREENSHOT_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}

ImGuiWindow* shownWindow(const char* name) {
    ImGuiWindow* w = ImGui::FindWindowByName(name);
    return w && w->WasActive ? w : nullptr;
}

// A popup's buttons sit on its last row, first and second from the left.
Point popupButton(const char* popup, const char* first, const char* second, int n) {
    ImGuiWindow* w = shownWindow(popup);
    if (!w) return {};
    const ImGuiStyle& style = ImGui::GetStyle();
    const float firstWidth = ImGui::CalcTextSize(first).x + style.FramePadding.x * 2;
    const float secondWidth = second ? ImGui::CalcTextSize(second).x + style.FramePadding.x * 2 : 0.0f;
    const float y = w->Pos.y + w->Size.y - 20.0f - ImGui::GetFrameHeight() / 2;
    const float x = w->Pos.x + 20.0f + (n == 0 ? firstWidth / 2 : firstWidth + style.ItemSpacing.x + secondWidth / 2);
    return {x, y, true};
}

class ScriptedWelcome : public WelcomeStage {
public:
    explicit ScriptedWelcome(std::string scenarioName) : scenario(std::move(scenarioName)) {}

    void drawGui() override {
        WelcomeStage::drawGui();
        // Positions from the previous frame's layout; the shell draws its own windows after this.
        if (ImGuiWindow* w = shownWindow("Welcome"))
            start = {w->Pos.x + w->Size.x / 2, w->Pos.y + w->Size.y - 20.0f - 20.0f, true};
        else
            start = {};
        if (ImGuiWindow* info = shownWindow("Info"))
            credits = {info->Pos.x + ImGui::GetStyle().WindowPadding.x + 20.0f, info->Pos.y + info->Size.y / 2, true};
        warningContinue = popupButton("Warning", "Continue", "Cancel", 0);
        warningCancel = popupButton("Warning", "Continue", "Cancel", 1);
        creditsClose = popupButton("Credits", "Close", nullptr, 0);
    }

    void update() override {
        ++passes;
        if (scenario == "plugged") {
            if (passes == 5) click(credits);
            if (passes == 15) {
                event(creditsClose.shown ? "credits-open" : "credits-missing");
                run({"import", "-window", "root", screenshot("welcome-credits.png")});
                click(creditsClose);
            }
            if (passes == 20) {
                event(shownWindow("Credits") ? "credits-still-open" : "credits-closed");
                run({"import", "-window", "root", screenshot("welcome.png")});
                click(start);
            }
        } else if (scenario == "battery") {
            if (passes == 5) click(start);
            if (passes == 15) {
                event(warningCancel.shown ? "warning-open" : "warning-missing");
                run({"import", "-window", "root", screenshot("welcome-warning.png")});
                click(warningCancel);
            }
            if (passes == 20) {
                event(warningCancel.shown ? "warning-still-open" : "warning-closed");
                click(start);  // the check runs again
            }
            if (passes == 30) {
                event(warningContinue.shown ? "warning-open" : "warning-missing");
                click(warningContinue);
            }
        }
        if (passes == 300) {
            event("timeout");
            startRequested = true;
        }
    }

    bool isFinished(StageResults& results) override {
        const bool done = WelcomeStage::isFinished(results);
        if (done) event("welcome-finished");
        return done;
    }

    std::string scenario;
    int passes = 0;
    Point start, credits, warningContinue, warningCancel, creditsClose;
};

class NextStage : public Stage {
public:
    void start() override { event("next-started"); }
    void abort() override {}
    void update() override {}
    void drawGui() override {}
    bool isFinished(StageResults&) override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: welcome_harness plugged|battery FIXTURE_ROOT\n");
        return 2;
    }
    const std::string scenario = argv[1];
    setProviderRoot(argv[2]);
    Application app([&] { return StageQueue{std::make_shared<ScriptedWelcome>(scenario), std::make_shared<NextStage>()}; },
                    [](const StageResults&) { event("finish"); });
    app.mainLoop();
    return 0;
}
