// Runs the real Application with recording stages and prints what the shell did, one event
// a line, so shell_test can check the order. Scenario names are the first argument.
// The swap intervals and presented frames are logged by the linked-in swap_log.
#include <cstdio>
#include <string>

#include "shell/Application.h"
#include "core/globals.h"
#include "tests/support/harness.h"
#include "tests/support/screenshots.h"

namespace {

class RecordingStage : public Stage {
public:
    RecordingStage(std::string stageName, bool vsync, int finishAfter, double seconds = 0)
        : name(std::move(stageName)), vsync(vsync), finishAfter(finishAfter) {
        expectedSeconds = seconds;
    }
    void start() override { harnessEvent("start " + name); }
    void abort() override { harnessEvent("abort " + name); }
    void update() override {
        ++passes;
        harnessEvent("update " + name);
        if (script) script(*this);
    }
    void drawGui() override {
        harnessEvent("drawGui " + name + (logProgress ? " " + runProgress : std::string()));
        // The quit popup's buttons, from its placement in the previous frame.
        quit = popupButtonCentre("Quit?", "Quit", "Cancel", 0);
        cancel = popupButtonCentre("Quit?", "Quit", "Cancel", 1);
    }
    bool isFinished(StageResults&) override {
        const bool done = finishAfter > 0 && passes >= finishAfter;
        harnessEvent(std::string("isFinished ") + name + (done ? " true" : " false"));
        return done;
    }
    bool wantsVsync() override { return vsync; }
    double maxFrameRate() override { return frameRate; }
    ~RecordingStage() override { harnessEvent("destroy " + name); }

    std::string name;
    bool vsync;
    int finishAfter;  // passes; 0 = never by itself
    int passes = 0;
    double frameRate = 0;
    bool logProgress = false;
    ScreenPoint quit, cancel;
    void (*script)(RecordingStage&) = nullptr;
};

void clickCloseButton() { clickAt(static_cast<float>(monitorWidth - 19), 18.0f); }

// Opens the quit popup, then presses the button named by `which` once the popup has been
// placed (a new auto-sized popup needs a few frames to settle in the centre).
template <int which>
void quitScript(RecordingStage& s) {
    if (s.passes == 3) clickCloseButton();
    if (s.passes == 12) {
        harnessEvent(s.quit.shown ? "popup-open" : "popup-missing");
        if (which == 0) runTool({"import", "-window", "root", screenshotPath("shell-quit-popup.png")});
        if (s.quit.shown) clickAt(which == 0 ? s.quit : s.cancel);
    }
    if (which == 1 && s.passes == 16) harnessEvent(s.quit.shown ? "popup-open" : "popup-closed");
    if (which == 1 && s.passes == 17) s.finishAfter = 17;
    if (s.passes == 400) {  // the clicks did not land: end rather than hang
        harnessEvent("timeout");
        s.finishAfter = s.passes;
    }
}

// Runs for a second of its own, then reports how many frames it drew.
class TimedStage : public RecordingStage {
public:
    TimedStage(std::string stageName, bool vsync, double rate) : RecordingStage(std::move(stageName), vsync, 0) {
        frameRate = rate;
    }
    void start() override { started = glfwGetTime(); }
    void drawGui() override { ++frames; }
    void update() override {}
    bool isFinished(StageResults&) override {
        if (glfwGetTime() - started < 1.0) return false;
        harnessEvent("frames " + name + " " + std::to_string(frames));
        return true;
    }

    double started = 0;
    int frames = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const std::string scenario = argc > 1 ? argv[1] : "";
    StageFactory factory;
    if (scenario == "sequence") {
        factory = [] {
            // A waits for no one's clock, like the welcome; B and C expect 5 and 3 seconds.
            StageQueue q{std::make_shared<RecordingStage>("A", true, 2), std::make_shared<RecordingStage>("B", false, 1, 5.0),
                         std::make_shared<RecordingStage>("C", true, 1, 3.0)};
            for (auto& s : q) static_cast<RecordingStage&>(*s).logProgress = true;
            return q;
        };
    } else if (scenario == "quit" || scenario == "cancel") {
        const bool quit = scenario == "quit";
        factory = [quit] {
            auto q = std::make_shared<RecordingStage>("Q", true, 0);
            q->script = quit ? &quitScript<0> : &quitScript<1>;
            return StageQueue{q, std::make_shared<RecordingStage>("L", true, 1)};
        };
    } else if (scenario == "pacing") {
        factory = [] {
            return StageQueue{std::make_shared<TimedStage>("paced", true, 5.0),
                              std::make_shared<TimedStage>("unpaced", false, 5.0)};
        };
    } else {
        std::fprintf(stderr, "usage: shell_harness sequence|quit|cancel|pacing\n");
        return 2;
    }
    {
        Application app(factory, [](const StageResults&) { harnessEvent("finish"); });
        app.mainLoop();
        harnessEvent("loop-ended");
    }
    harnessEvent("exit");
    return 0;
}
