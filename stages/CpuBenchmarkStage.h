#pragma once
#include "shell/Stage.h"
#include "cpu/CpuEngine.h"

#include <memory>

// The CPU test: both workloads at every thread count on the engine's own thread, while the
// main thread draws the backdrop, the current thread count, the progress and the score log.
class CpuBenchmarkStage : public Stage {
public:
    // The options are for tests (short windows, stand-in kernels); the product uses the defaults.
    explicit CpuBenchmarkStage(CpuEngineOptions options = {});
    ~CpuBenchmarkStage() override;

    void start() override;
    void abort() override;
    void update() override {}
    void drawGui() override;
    bool isFinished(StageResults& results) override;
    // Everything on screen changes only when a test ends, and the engine wakes the shell
    // then; a few frames a second keep the interface alive without taking processor time
    // from the workers it measures.
    double maxFrameRate() override { return 2.0; }

    // Lets the engine thread wake the shell for as long as the stage, and so the window, exists.
    struct Waker;

private:
    std::shared_ptr<Waker> waker;  // before the engine, which is given it

public:
    // Destroying the stage raises the abort flag; the engine thread keeps its own share of
    // the state and ends on its own.
    CpuEngine engine;
};
