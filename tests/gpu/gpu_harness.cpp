// Runs the real Application with the four real GPU scene stages (two seconds each) and the
// real SubmitStage, and prints what happened one event a line for gpu_run_test: the swap
// intervals asked for, each presented frame with the stage windows it showed, stage starts,
// and the results handed to the finishing action.
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include <imgui.h>
#include <imgui_internal.h>

#include "app/Application.h"
#include "assets/assets.h"
#include "stages/GpuBenchmark.h"
#include "stages/SubmitStage.h"

namespace {

void event(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

class LoggedGpuStage : public GpuBenchmark {
public:
    using GpuBenchmark::GpuBenchmark;
    void start() override {
        event(std::string("start ") + title);
        GpuBenchmark::start();
    }
};

class LoggedSubmitStage : public SubmitStage {
public:
    void start() override {
        event("start Submit");
        SubmitStage::start();
    }
};

// The stage windows emitted in the frame being presented.
std::string shownWindows() {
    std::string shown;
    for (const char* name : {"Info", "Progress", "Submitting results"}) {
        ImGuiWindow* window = ImGui::FindWindowByName(name);
        if (window && window->Active) shown += std::string(shown.empty() ? "" : ",") + name;
    }
    return shown;
}

}  // namespace

extern "C" void glfwSwapInterval(int interval) {
    event("interval " + std::to_string(interval));
    using Fn = void (*)(int);
    reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "glfwSwapInterval"))(interval);
}

extern "C" void glfwSwapBuffers(GLFWwindow* window) {
    event("present " + shownWindows());
    using Fn = void (*)(GLFWwindow*);
    reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "glfwSwapBuffers"))(window);
}

int main() {
    const StageFactory factory = [] {
        return StageQueue{std::make_shared<LoggedGpuStage>(asText(fluxCoreShaderData), 2, "Flux Core", 1),
                          std::make_shared<LoggedGpuStage>(asText(electronShaderData), 2, "Electron", 2),
                          std::make_shared<LoggedGpuStage>(asText(cityShaderData), 2, "City", 3),
                          std::make_shared<LoggedGpuStage>(asText(cloudsShaderData), 2, "Clouds", 4),
                          std::make_shared<LoggedSubmitStage>()};
    };
    {
        Application app(factory, [](const StageResults& results) {
            std::string ids;
            for (const GpuTestResult& r : results.gpu) ids += (ids.empty() ? "" : ",") + std::to_string(r.id);
            event("finish gpu " + ids);
        });
        app.mainLoop();
    }
    event("exit");
    return 0;
}
