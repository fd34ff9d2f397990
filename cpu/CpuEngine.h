#pragma once
// The engine of the CPU stage: one thread that runs the 22 CPU tests one after another,
// each on 1 to 64 worker threads, and the state that the stage shows and collects.
// Nothing here touches GL, so it runs and is tested without a window.

#include "core/protocol.h"
#include "core/records.h"
#include "cpu/CpuBenchmark.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>

enum class CpuWorkload { Integer, FloatingPoint };

// Worker counts of the tests, the same on every machine.
inline constexpr std::size_t kCpuTestCount = 2 * kThreadCounts.size();

struct CpuEngineOptions {
    // How long each test's workers run, timed from the start gate's opening, after the last
    // worker was launched.
    std::chrono::nanoseconds window = std::chrono::seconds(2);
    // The pause after the last test, before the results are handed over.
    std::chrono::nanoseconds finalPause = std::chrono::seconds(1);
    // Makes the kernel of a workload; the engine keeps it for the whole run.
    // Empty: IntegerBenchmark and FloatingPointBenchmark.
    std::function<std::shared_ptr<CpuBenchmark>(CpuWorkload)> makeBenchmark;
    // Starts one worker on a thread of its own. Empty: std::async with std::launch::async.
    std::function<std::future<std::uint64_t>(std::function<std::uint64_t()>)> launchWorker;
    // Starts the engine thread and lets it go. Empty: a detached std::thread.
    std::function<void(std::function<void()>)> startThread;
    // Called on the engine thread after each test and when the engine has finished, so that
    // a display that draws only a few frames a second can show the change at once.
    std::function<void()> onProgress;
};

// Fills in the defaults of every empty member.
CpuEngineOptions withDefaults(CpuEngineOptions options);

struct CpuTestOutcome {
    std::uint64_t score = 0;             // sum of the workers' results
    std::size_t workersStarted = 0;      // fewer than asked only when a launch failed
    std::chrono::nanoseconds window{0};  // measured length of the window
    std::chrono::nanoseconds launch{0};  // launching the workers, before the window opened
    std::string launchError;             // why a launch failed; empty when all started
};

// One test: launches threadCount workers, which wait at a start gate until the last one is
// launched and then call benchmark.run; keeps the window open for options.window from the
// gate's opening, closes it and sums what the workers return.
// Every worker has returned before this does. `options` must have its defaults filled in.
CpuTestOutcome runTest(CpuBenchmark& benchmark, std::size_t threadCount, std::atomic<bool>& abortFlag,
                       const CpuEngineOptions& options);

class CpuEngine {
public:
    explicit CpuEngine(CpuEngineOptions options = {});
    // Raises the abort flag so that running workers stop; never waits for the engine thread,
    // which keeps the shared state alive until it has ended.
    ~CpuEngine();
    CpuEngine(const CpuEngine&) = delete;
    CpuEngine& operator=(const CpuEngine&) = delete;

    // Starts the engine thread; later calls do nothing.
    void start();
    // Asks the workers to stop at their next unit; returns at once.
    void abort();

    std::size_t currentThreads() const;
    std::size_t testsDone() const;
    // testsDone / 22, for the progress bar.
    float progress() const;
    std::string logText() const;
    bool finished() const;
    // False, leaving `results` alone, until the engine has finished; then copies both
    // result lists into `results` (on every call) and returns true.
    bool isFinished(StageResults& results) const;

    // Shared by the engine object, the engine thread and the workers; defined with the engine.
    struct State;

private:
    std::shared_ptr<State> state_;
    CpuEngineOptions options_;
    bool started_ = false;
};
