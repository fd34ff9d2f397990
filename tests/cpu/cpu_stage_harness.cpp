// Runs the real Application with the CPU stage and the SubmitStage and prints what happened,
// one event a line, for cpu_stage_test. The stage's kernels are stand-ins that hold their
// worker until the window closes or the run is aborted.
//   run:   5 ms windows; the whole run to the results handed on.
//   close: windows of ten minutes; the window is closed (without "Quit") during the first
//          test, and the program must still end, its workers stopped.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "shell/Application.h"
#include "stages/CpuBenchmarkStage.h"
#include "stages/SubmitStage.h"
#include "tests/support/harness.h"
#include "tests/support/swap_log.h"

namespace {

using namespace std::chrono_literals;

std::atomic<bool> abortSeen{false};
int presents = 0;
int closeAfterPresents = -1;
GLFWwindow* appWindow = nullptr;

class StandInKernel : public CpuBenchmark {
public:
    explicit StandInKernel(std::uint64_t perWorker) : perWorker_(perWorker) {}
    std::uint64_t run(std::atomic<bool>& running, std::atomic<bool>& abortFlag) override {
        while (running.load() && !abortFlag.load()) std::this_thread::sleep_for(200us);
        if (abortFlag.load()) {
            abortSeen.store(true);
            return 0;
        }
        return perWorker_;
    }

private:
    std::uint64_t perWorker_;
};

class LoggedCpuStage : public CpuBenchmarkStage {
public:
    using CpuBenchmarkStage::CpuBenchmarkStage;
    void start() override {
        harnessEvent("start CPU");
        CpuBenchmarkStage::start();
    }
};

class LoggedSubmitStage : public SubmitStage {
public:
    void start() override {
        harnessEvent("start Submit");
        SubmitStage::start();
    }
};

std::string listText(const std::vector<CpuTestResult>& list) {
    std::string text;
    for (const auto& r : list) text += (text.empty() ? "" : ",") + std::to_string(r.thread_count) + ":" + std::to_string(r.score);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    // Each presented frame with the stage windows it showed.
    presentSuffix = [] { return activeWindows({"Info", "Progress", "Log", "Submitting results"}); };
    afterPresent = [](GLFWwindow* window) {
        if (++presents == closeAfterPresents) glfwSetWindowShouldClose(window, GLFW_TRUE);
    };
    const std::string mode = argc > 1 ? argv[1] : "run";
    CpuEngineOptions options;
    options.makeBenchmark = [](CpuWorkload w) {
        return std::make_shared<StandInKernel>(w == CpuWorkload::Integer ? 3 : 7);
    };
    if (mode == "close") {
        options.window = 600s;
        closeAfterPresents = 5;
    } else {
        options.window = 5ms;
        options.finalPause = 100ms;
    }
    const StageFactory factory = [options] {
        return StageQueue{std::make_shared<LoggedCpuStage>(options), std::make_shared<LoggedSubmitStage>()};
    };
    {
        Application app(factory, [](const StageResults& results) {
            harnessEvent("finish integer " + listText(results.cpu_integer));
            harnessEvent("finish float " + listText(results.cpu_float));
        });
        appWindow = app.window;
        app.mainLoop();
    }
    // The stage is gone; its workers were told to stop when it went.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (mode == "close" && !abortSeen.load() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    if (abortSeen.load()) harnessEvent("workers stopped");
    harnessEvent("exit");
    return 0;
}
