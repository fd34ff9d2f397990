#pragma once
#include "app/Stage.h"
#include "stages/CpuEngine.h"

// The CPU test: both workloads at every thread count on the engine's own thread, while the
// main thread draws the backdrop, the current thread count, the progress and the score log.
class CpuBenchmarkStage : public Stage {
public:
    // The options are for tests (short windows, stand-in kernels); the product uses the defaults.
    explicit CpuBenchmarkStage(CpuEngineOptions options = {});

    void start() override;
    void abort() override;
    void update() override {}
    void drawGui() override;
    bool isFinished(StageResults& results) override;

    // Destroying the stage raises the abort flag; the engine thread keeps its own share of
    // the state and ends on its own.
    CpuEngine engine;
};
