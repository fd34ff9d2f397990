// Runs the real welcome stage in the real shell and presses its buttons with xdotool,
// printing what happened one event a line. The management provider reads the fixture
// tree given as the second argument, so the power check sees the battery it describes.
//   plugged, battery:  the buttons clicked with the pointer.
//   battery-keys:      the battery scenario with the keyboard only.
//   keys:              Enter starts the run, then the quit popup is opened, cancelled,
//                      opened again and confirmed with Esc and Enter during the CPU stage.
//   screens:           welcome, CPU (with and without the quit popup) and submit screens
//                      photographed at the content scale that TALLYFORGE_TEST_CONTENT_SCALE
//                      forces, with their windows' layout.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <imgui.h>
#include <imgui_internal.h>

#include "shell/Application.h"
#include "shell/Gui.h"
#include "core/globals.h"
#include "stages/CpuBenchmarkStage.h"
#include "stages/SubmitStage.h"
#include "stages/WelcomeStage.h"
#include "sysinfo/linux_provider.h"
#include "tests/support/harness.h"
#include "tests/support/screenshots.h"

namespace {

using namespace std::chrono_literals;

// Window rectangles divided by the content scale, so that every scale should print the
// same figures as scale 1 (text may differ by a little rounding of glyph widths).
void logLayout(const char* stage, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        ImGuiWindow* w = shownWindow(name);
        if (!w) {
            harnessEvent(std::string("layout ") + stage + " " + name + " missing");
            continue;
        }
        char line[200];
        std::snprintf(line, sizeof line, "layout %s %s %.1f %.1f %.1f %.1f", stage, name, w->Pos.x / contentScaleX,
                      w->Pos.y / contentScaleX, w->Size.x / contentScaleX, w->Size.y / contentScaleX);
        harnessEvent(line);
    }
}

std::string scaleSuffix() {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", contentScaleX);
    return std::string("-scale-") + text + ".png";
}

void screenshot(const std::string& name) { runTool({"import", "-window", "root", screenshotPath(name + scaleSuffix())}); }

class ScriptedWelcome : public WelcomeStage {
public:
    explicit ScriptedWelcome(std::string scenarioName) : scenario(std::move(scenarioName)) {}

    void drawGui() override {
        WelcomeStage::drawGui();
        // Positions from the previous frame's layout; the shell draws its own windows after this.
        if (ImGuiWindow* w = shownWindow("Welcome"))
            start = {w->Pos.x + w->Size.x / 2, w->Pos.y + w->Size.y - scaled(20.0f) - scaled(20.0f), true};
        else
            start = {};
        if (ImGuiWindow* info = shownWindow("Info"))
            credits = {info->Pos.x + ImGui::GetStyle().WindowPadding.x + scaled(20.0f), info->Pos.y + info->Size.y / 2, true};
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
        } else if (scenario == "battery" || scenario == "battery-keys") {
            // The same steps with the pointer or with the keyboard alone.
            const bool keys = scenario == "battery-keys";
            if (passes == 5) keys ? pressKey("Return") : clickAt(start);
            if (passes == 15) {
                harnessEvent(warningCancel.shown ? "warning-open" : "warning-missing");
                if (!keys) runTool({"import", "-window", "root", screenshotPath("welcome-warning.png")});
                keys ? pressKey("Escape") : clickAt(warningCancel);
            }
            if (passes == 20) {
                harnessEvent(warningCancel.shown ? "warning-still-open" : "warning-closed");
                keys ? pressKey("KP_Enter") : clickAt(start);  // the check runs again
            }
            if (passes == 30) {
                harnessEvent(warningContinue.shown ? "warning-open" : "warning-missing");
                keys ? pressKey("Return") : clickAt(warningContinue);
            }
        } else if (scenario == "keys") {
            if (passes == 5) pressKey("Return");
        } else if (scenario == "screens") {
            if (passes == 10) {
                logLayout("welcome", {"Welcome", "Info", "Title"});
                screenshot("welcome");
                pressKey("Return");
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

// The real CPU stage with stand-in kernels that hold their worker until the window closes.
class StandInKernel : public CpuBenchmark {
public:
    std::uint64_t run(std::atomic<bool>& running, std::atomic<bool>& abortFlag) override {
        while (running.load() && !abortFlag.load()) std::this_thread::sleep_for(200us);
        return abortFlag.load() ? 0 : 1;
    }
};

class ScriptedCpu : public CpuBenchmarkStage {
public:
    ScriptedCpu(std::string scenarioName, CpuEngineOptions options)
        : CpuBenchmarkStage(std::move(options)), scenario(std::move(scenarioName)) {}
    void start() override {
        harnessEvent("cpu-started");
        CpuBenchmarkStage::start();
    }
    void abort() override {
        harnessEvent("cpu-aborted");
        CpuBenchmarkStage::abort();
    }
    void update() override {
        ++passes;
        if (scenario == "keys") {
            // Esc opens the quit popup, Esc closes it, Esc opens it again and Enter quits.
            const char* keys[] = {"Escape", "Escape", "Escape", "Return"};
            if (passes % 10 == 5 && passes / 10 < 4) {
                if (passes > 5) harnessEvent(shownWindow("Quit?") ? "quit-open" : "quit-closed");
                if (passes / 10 == 3) {
                    quitKeyPass = passes;
                    quitKeyTime = std::chrono::steady_clock::now();
                }
                pressKey(keys[passes / 10]);
            }
        } else if (scenario == "screens" && engine.testsDone() >= 14) {
            // A few frames after the log grew, so that it has scrolled to its newest line; then
            // the quit popup over it, opened and closed again with Esc.
            ++passesAfterFloat;
            if (passesAfterFloat == 3) {
                logLayout("cpu", {"Info", "Progress", "Log", "Title"});
                harnessEvent("run-progress " + runProgress);
                screenshot("cpu");
                pressKey("Escape");
            }
            if (passesAfterFloat == 10) {
                logLayout("quit", {"Quit?"});
                screenshot("quit");
                pressKey("Escape");
            }
        }
        if (passes == 2000) {  // the keys did not arrive: end rather than hang
            harnessEvent("timeout");
            glfwSetWindowShouldClose(glfwGetCurrentContext(), GLFW_TRUE);
        }
    }

    // The photographs are taken before the stage may hand over, however slow they are.
    bool isFinished(StageResults& results) override {
        if (scenario == "screens" && passesAfterFloat < 12) return false;
        return CpuBenchmarkStage::isFinished(results);
    }

    std::string scenario;
    int passes = 0;
    int passesAfterFloat = 0;
    int quitKeyPass = 0;
    std::chrono::steady_clock::time_point quitKeyTime;
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
        std::fprintf(stderr, "usage: welcome_harness plugged|battery|battery-keys|keys|screens FIXTURE_ROOT\n");
        return 2;
    }
    const std::string scenario = argv[1];
    setProviderRoot(argv[2]);
    std::shared_ptr<ScriptedCpu> cpu;
    StageFactory factory = [&] { return StageQueue{std::make_shared<ScriptedWelcome>(scenario), std::make_shared<NextStage>()}; };
    if (scenario == "keys" || scenario == "screens") {
        factory = [&] {
            CpuEngineOptions options;
            options.makeBenchmark = [](CpuWorkload) { return std::make_shared<StandInKernel>(); };
            // Long enough to quit in the middle of a test; short enough for a filled log.
            options.window = scenario == "keys" ? std::chrono::nanoseconds(600s) : std::chrono::nanoseconds(30ms);
            options.finalPause = 1s;
            cpu = std::make_shared<ScriptedCpu>(scenario, options);
            return StageQueue{std::make_shared<ScriptedWelcome>(scenario), cpu, std::make_shared<SubmitStage>()};
        };
    }
    {
        Application app(factory, [&](const StageResults&) {
            if (scenario == "screens") {
                logLayout("submit", {"Submitting results", "Title"});
                screenshot("submit");
            }
            harnessEvent("finish");
        });
        app.mainLoop();
        if (cpu && cpu->quitKeyPass > 0) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                  cpu->quitKeyTime);
            harnessEvent("quit-after-passes " + std::to_string(cpu->passes - cpu->quitKeyPass));
            harnessEvent("quit-after-ms " + std::to_string(ms.count()));
        }
        harnessEvent("loop-ended");
    }
    return 0;
}
