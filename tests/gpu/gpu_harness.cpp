// Runs the real Application with the four real GPU scene stages (two seconds each) and the
// real SubmitStage, and prints what happened one event a line for gpu_run_test: the swap
// intervals asked for, each presented frame with the stage windows it showed, stage starts,
// and the results handed to the finishing action.
#include <string>

#include "shell/Application.h"
#include "assets/assets.h"
#include "stages/GpuBenchmark.h"
#include "stages/SubmitStage.h"
#include "tests/support/harness.h"
#include "tests/support/swap_log.h"

namespace {

class LoggedGpuStage : public GpuBenchmark {
public:
    using GpuBenchmark::GpuBenchmark;
    void start() override {
        harnessEvent(std::string("start ") + title);
        GpuBenchmark::start();
    }
};

class LoggedSubmitStage : public SubmitStage {
public:
    void start() override {
        harnessEvent("start Submit");
        SubmitStage::start();
    }
};

}  // namespace

int main() {
    // The stage windows emitted in the frame being presented.
    presentSuffix = [] { return activeWindows({"Info", "Progress", "Submitting results"}); };
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
            harnessEvent("finish gpu " + ids);
        });
        app.mainLoop();
    }
    harnessEvent("exit");
    return 0;
}
