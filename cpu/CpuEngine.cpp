#include "cpu/CpuEngine.h"

#include "cpu/FloatingPointBenchmark.h"
#include "cpu/IntegerBenchmark.h"
#include "platform/platform.h"

#include <exception>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

// Everything that the stage, the engine thread and the workers share. The engine thread
// holds its own reference, so the stage may go away in the middle of a test.
struct CpuEngine::State {
    std::atomic<bool> finished{false};
    std::atomic<bool> abortFlag{false};
    std::atomic<std::size_t> currentThreads{1};
    std::atomic<std::size_t> testsDone{0};

    mutable std::mutex logMutex;
    std::ostringstream log;

    // Written by the engine only; read by others only after they have seen `finished`.
    std::vector<CpuTestResult> integerResults;
    std::vector<CpuTestResult> floatResults;

    void writeLine(const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex);
        log << line << std::endl;
    }
};

namespace {

// Sleeps for the duration; a failed precise wait falls back to the standard sleep, so the
// test still gets its full window instead of scoring nothing.
void waitFor(std::chrono::nanoseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    if (!waitPrecise(duration)) std::this_thread::sleep_until(deadline);
}

void runSeries(CpuEngine::State& state, CpuBenchmark& benchmark, const char* name,
               std::vector<CpuTestResult>& results, const CpuEngineOptions& options);

}  // namespace

CpuEngineOptions withDefaults(CpuEngineOptions options) {
    if (!options.makeBenchmark) {
        options.makeBenchmark = [](CpuWorkload workload) -> std::shared_ptr<CpuBenchmark> {
            if (workload == CpuWorkload::Integer) return std::make_shared<IntegerBenchmark>();
            return std::make_shared<FloatingPointBenchmark>();
        };
    }
    if (!options.launchWorker) {
        options.launchWorker = [](std::function<std::uint64_t()> work) {
            return std::async(std::launch::async, std::move(work));
        };
    }
    if (!options.startThread) {
        options.startThread = [](std::function<void()> body) { std::thread(std::move(body)).detach(); };
    }
    return options;
}

CpuTestOutcome runTest(CpuBenchmark& benchmark, std::size_t threadCount, std::atomic<bool>& abortFlag,
                       const CpuEngineOptions& options) {
    CpuTestOutcome outcome;
    // Lives until every worker has been collected below; std::async futures also wait for
    // their thread when destroyed, should anything unwind past this frame.
    std::atomic<bool> running{true};
    std::vector<std::future<std::uint64_t>> futures;
    futures.reserve(threadCount);
    // Workers wait here until the last one is launched, so none works outside the window:
    // launching 64 threads takes a noticeable part of it on a small processor. Declared after
    // the futures, so that if anything unwinds, the broken promise releases the workers
    // before the futures wait for them.
    std::promise<void> gate;
    const std::shared_future<void> opened = gate.get_future().share();
    const auto launchStart = std::chrono::steady_clock::now();
    try {
        for (std::size_t i = 0; i < threadCount; ++i) {
            futures.push_back(options.launchWorker([&benchmark, &running, &abortFlag, opened] {
                opened.wait();
                return benchmark.run(running, abortFlag);
            }));
        }
    } catch (const std::exception& e) {
        // Out of threads: the test goes on with the workers that did start.
        outcome.launchError = e.what();
    }
    outcome.workersStarted = futures.size();

    const auto windowStart = std::chrono::steady_clock::now();
    outcome.launch = windowStart - launchStart;
    gate.set_value();
    waitFor(options.window);
    outcome.window = std::chrono::steady_clock::now() - windowStart;
    running.store(false);

    for (auto& f : futures) outcome.score += f.get();
    return outcome;
}

namespace {

void runSeries(CpuEngine::State& state, CpuBenchmark& benchmark, const char* name,
               std::vector<CpuTestResult>& results, const CpuEngineOptions& options) {
    for (const std::uint64_t n : kThreadCounts) {
        state.currentThreads.store(n);
        const CpuTestOutcome outcome = runTest(benchmark, n, state.abortFlag, options);
        results.push_back(CpuTestResult{n, outcome.score});
        std::ostringstream line;
        line << name << " Test (" << n << "T): ";
        if (!outcome.launchError.empty()) {
            std::ostringstream note;
            note << line.str() << "only " << outcome.workersStarted << " of " << n
                 << " workers could be started (" << outcome.launchError << ")";
            state.writeLine(note.str());
        }
        line << outcome.score << " pts";
        state.writeLine(line.str());
        state.testsDone.fetch_add(1);
        if (options.onProgress) options.onProgress();
    }
}

void runEngine(const std::shared_ptr<CpuEngine::State>& state, const CpuEngineOptions& options) {
    state->writeLine("Benchmark engine starting...");
    const std::shared_ptr<CpuBenchmark> integer = options.makeBenchmark(CpuWorkload::Integer);
    const std::shared_ptr<CpuBenchmark> floating = options.makeBenchmark(CpuWorkload::FloatingPoint);
    runSeries(*state, *integer, "Integer", state->integerResults, options);
    runSeries(*state, *floating, "Floating Point", state->floatResults, options);
    waitFor(options.finalPause);
    state->finished.store(true);
    if (options.onProgress) options.onProgress();
}

}  // namespace

CpuEngine::CpuEngine(CpuEngineOptions options)
    : state_(std::make_shared<State>()), options_(withDefaults(std::move(options))) {}

CpuEngine::~CpuEngine() { state_->abortFlag.exchange(true); }

void CpuEngine::start() {
    if (started_) return;
    started_ = true;
    try {
        options_.startThread([state = state_, options = options_] { runEngine(state, options); });
    } catch (const std::exception& e) {
        // Without an engine there is nothing to wait for: report it and let the run go on.
        state_->writeLine(std::string("Benchmark engine could not be started (") + e.what() + ")");
        state_->finished.store(true);
    }
}

void CpuEngine::abort() { state_->abortFlag.exchange(true); }

std::size_t CpuEngine::currentThreads() const { return state_->currentThreads.load(); }

std::size_t CpuEngine::testsDone() const { return state_->testsDone.load(); }

float CpuEngine::progress() const { return static_cast<float>(testsDone()) / static_cast<float>(kCpuTestCount); }

std::string CpuEngine::logText() const {
    std::lock_guard<std::mutex> lock(state_->logMutex);
    return state_->log.str();
}

bool CpuEngine::finished() const { return state_->finished.load(); }

bool CpuEngine::isFinished(StageResults& results) const {
    if (!state_->finished.load()) return false;
    results.cpu_integer = state_->integerResults;
    results.cpu_float = state_->floatResults;
    return true;
}
