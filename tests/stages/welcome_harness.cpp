// Runs the real welcome stage in the real shell and presses its buttons with xdotool,
// printing what happened one event a line. The management provider reads the fixture
// tree given as the second argument, so the power check sees the battery it describes.
#include <cstdio>
#include <string>

#include <imgui.h>
#include <imgui_internal.h>

#include "app/Application.h"
#include "core/globals.h"
#include "stages/WelcomeStage.h"
#include "sysinfo/linux_provider.h"
#include "tests/support/harness.h"
#include "tests/support/screenshots.h"

namespace {

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
        warningContinue = popupButtonCentre("Warning", "Continue", "Cancel", 0);
        warningCancel = popupButtonCentre("Warning", "Continue", "Cancel", 1);
        creditsClose = popupButtonCentre("Credits", "Close", nullptr, 0);
    }

    void update() override {
        ++passes;
        if (scenario == "plugged") {
            if (passes == 5) clickAt(credits);
            if (passes == 15) {
                harnessEvent(creditsClose.shown ? "credits-open" : "credits-missing");
                runTool({"import", "-window", "root", screenshotPath("welcome-credits.png")});
                clickAt(creditsClose);
            }
            if (passes == 20) {
                harnessEvent(shownWindow("Credits") ? "credits-still-open" : "credits-closed");
                runTool({"import", "-window", "root", screenshotPath("welcome.png")});
                clickAt(start);
            }
        } else if (scenario == "battery") {
            if (passes == 5) clickAt(start);
            if (passes == 15) {
                harnessEvent(warningCancel.shown ? "warning-open" : "warning-missing");
                runTool({"import", "-window", "root", screenshotPath("welcome-warning.png")});
                clickAt(warningCancel);
            }
            if (passes == 20) {
                harnessEvent(warningCancel.shown ? "warning-still-open" : "warning-closed");
                clickAt(start);  // the check runs again
            }
            if (passes == 30) {
                harnessEvent(warningContinue.shown ? "warning-open" : "warning-missing");
                clickAt(warningContinue);
            }
        }
        if (passes == 300) {
            harnessEvent("timeout");
            startRequested = true;
        }
    }

    bool isFinished(StageResults& results) override {
        const bool done = WelcomeStage::isFinished(results);
        if (done) harnessEvent("welcome-finished");
        return done;
    }

    std::string scenario;
    int passes = 0;
    ScreenPoint start, credits, warningContinue, warningCancel, creditsClose;
};

class NextStage : public Stage {
public:
    void start() override { harnessEvent("next-started"); }
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
                    [](const StageResults&) { harnessEvent("finish"); });
    app.mainLoop();
    return 0;
}
