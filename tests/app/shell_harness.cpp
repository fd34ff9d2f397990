// Runs the real Application with recording stages and prints what the shell did, one event
// a line, so shell_test can check the order. Scenario names are the first argument.
#include <dlfcn.h>
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
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        event("spawn-failed " + args[0]);
        return;
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

void click(float x, float y) {
    run({"xdotool", "mousemove", "--sync", std::to_string(static_cast<int>(x)), std::to_string(static_cast<int>(y)),
         "click", "1"});
}

// Centre of the n-th button ("Quit" = 0, "Cancel" = 1) on the quit popup's last row, from
// the popup's placement in the previous frame; false while the popup is not shown.
bool quitPopupButton(int n, float& x, float& y) {
    ImGuiWindow* popup = ImGui::FindWindowByName("Quit?");
    if (!popup || !popup->WasActive) return false;
    const ImGuiStyle& style = ImGui::GetStyle();
    const float quitWidth = ImGui::CalcTextSize("Quit").x + style.FramePadding.x * 2;
    const float cancelWidth = ImGui::CalcTextSize("Cancel").x + style.FramePadding.x * 2;
    y = popup->Pos.y + popup->Size.y - 20.0f - ImGui::GetFrameHeight() / 2;
    x = popup->Pos.x + 20.0f + (n == 0 ? quitWidth / 2 : quitWidth + style.ItemSpacing.x + cancelWidth / 2);
    return true;
}

class RecordingStage : public Stage {
public:
    RecordingStage(std::string stageName, bool vsync, int finishAfter)
        : name(std::move(stageName)), vsync(vsync), finishAfter(finishAfter) {}
    void start() override { event("start " + name); }
    void abort() override { event("abort " + name); }
    void update() override {
        ++passes;
        event("update " + name);
        if (script) script(*this);
    }
    void drawGui() override {
        event("drawGui " + name);
        popupShown = quitPopupButton(0, quitX, quitY);
        quitPopupButton(1, cancelX, cancelY);
    }
    bool isFinished(StageResults&) override {
        const bool done = finishAfter > 0 && passes >= finishAfter;
        event(std::string("isFinished ") + name + (done ? " true" : " false"));
        return done;
    }
    bool wantsVsync() override { return vsync; }
    ~RecordingStage() override { event("destroy " + name); }

    std::string name;
    bool vsync;
    int finishAfter;  // passes; 0 = never by itself
    int passes = 0;
    bool popupShown = false;
    float quitX = 0, quitY = 0, cancelX = 0, cancelY = 0;
    void (*script)(RecordingStage&) = nullptr;
};

std::string screenshotDir() {
    const char* dir = std::getenv("TALLYFORGE_SCREENSHOT_DIR");
    return dir ? dir : ".";
}

void clickCloseButton() { click(static_cast<float>(monitorWidth - 19), 18.0f); }

// Opens the quit popup, then presses the button named by `which` once the popup has been
// placed (a new auto-sized popup needs a few frames to settle in the centre).
template <int which>
void quitScript(RecordingStage& s) {
    if (s.passes == 3) clickCloseButton();
    if (s.passes == 12) {
        event(s.popupShown ? "popup-open" : "popup-missing");
        if (which == 0) run({"import", "-window", "root", screenshotDir() + "/shell-quit-popup.png"});
        if (s.popupShown) which == 0 ? click(s.quitX, s.quitY) : click(s.cancelX, s.cancelY);
    }
    if (which == 1 && s.passes == 16) event(s.popupShown ? "popup-open" : "popup-closed");
    if (which == 1 && s.passes == 17) s.finishAfter = 17;
    if (s.passes == 400) {  // the clicks did not land: end rather than hang
        event("timeout");
        s.finishAfter = s.passes;
    }
}

}  // namespace

// Recorded on their way to GLFW: the interval the shell asks for and each presented frame.
extern "C" void glfwSwapInterval(int interval) {
    event("interval " + std::to_string(interval));
    using Fn = void (*)(int);
    reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "glfwSwapInterval"))(interval);
}

extern "C" void glfwSwapBuffers(GLFWwindow* window) {
    event("present");
    using Fn = void (*)(GLFWwindow*);
    reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "glfwSwapBuffers"))(window);
}

int main(int argc, char** argv) {
    const std::string scenario = argc > 1 ? argv[1] : "";
    StageFactory factory;
    if (scenario == "sequence") {
        factory = [] {
            return StageQueue{std::make_shared<RecordingStage>("A", true, 2),
                              std::make_shared<RecordingStage>("B", false, 1),
                              std::make_shared<RecordingStage>("C", true, 1)};
        };
    } else if (scenario == "quit" || scenario == "cancel") {
        const bool quit = scenario == "quit";
        factory = [quit] {
            auto q = std::make_shared<RecordingStage>("Q", true, 0);
            q->script = quit ? &quitScript<0> : &quitScript<1>;
            return StageQueue{q, std::make_shared<RecordingStage>("L", true, 1)};
        };
    } else {
        std::fprintf(stderr, "usage: shell_harness sequence|quit|cancel\n");
        return 2;
    }
    {
        Application app(factory, [](const StageResults&) { event("finish"); });
        app.mainLoop();
        event("loop-ended");
    }
    event("exit");
    return 0;
}
