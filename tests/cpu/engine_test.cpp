#include "cpu/CpuEngine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>
#include <vector>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TF_HAS_TSAN 1
#endif
#endif
#ifndef TF_HAS_TSAN
#define TF_HAS_TSAN 0
#endif

namespace {

using namespace std::chrono_literals;

// Stands in for a real kernel: holds its worker until the window closes and then returns a
// fixed amount, or 0 when it was aborted, so every score is known in advance.
class FakeKernel : public CpuBenchmark {
public:
    FakeKernel(std::uint64_t perWorker, std::function<void()> onRun) : perWorker_(perWorker), onRun_(std::move(onRun)) {}

    std::uint64_t run(std::atomic<bool>& running, std::atomic<bool>& abortFlag) override {
        if (onRun_) onRun_();
        while (running.load() && !abortFlag.load()) std::this_thread::sleep_for(200us);
        return abortFlag.load() ? 0 : perWorker_;
    }

private:
    std::uint64_t perWorker_;
    std::function<void()> onRun_;
};

constexpr std::uint64_t kIntegerPerWorker = 3;
constexpr std::uint64_t kFloatPerWorker = 7;

std::function<std::shared_ptr<CpuBenchmark>(CpuWorkload)> fakeKernels(std::function<void()> onRun = {}) {
    return [onRun](CpuWorkload w) {
        return std::make_shared<FakeKernel>(w == CpuWorkload::Integer ? kIntegerPerWorker : kFloatPerWorker, onRun);
    };
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::seconds limit = 60s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::string> expectedLog(std::uint64_t integerPerWorker, std::uint64_t floatPerWorker) {
    std::vector<std::string> out = {"Benchmark engine starting..."};
    for (auto n : kThreadCounts) out.push_back("Integer Test (" + std::to_string(n) + "T): " + std::to_string(n * integerPerWorker) + " pts");
    for (auto n : kThreadCounts) out.push_back("Floating Point Test (" + std::to_string(n) + "T): " + std::to_string(n * floatPerWorker) + " pts");
    return out;
}

StageResults sentinel() {
    StageResults r;
    r.cpu_integer = {{99, 99}};
    r.gpu = {{1, 2, 3, 4}};
    return r;
}

TEST(CpuEngine, FullRunFillsBothListsLogAndProgress) {
    // What the workers of each test see: tests done so far, the shown thread count, progress.
    std::mutex seenMutex;
    std::set<std::tuple<std::size_t, std::size_t, float>> seen;
    CpuEngine* enginePtr = nullptr;

    std::atomic<int> progressCalls{0};
    CpuEngineOptions options;
    options.window = 5ms;
    options.finalPause = 1s;
    options.onProgress = [&] { progressCalls.fetch_add(1); };
    options.makeBenchmark = fakeKernels([&] {
        std::lock_guard<std::mutex> lock(seenMutex);
        seen.emplace(enginePtr->testsDone(), enginePtr->currentThreads(), enginePtr->progress());
    });
    CpuEngine engine(options);
    enginePtr = &engine;

    EXPECT_EQ(engine.currentThreads(), 1u);
    EXPECT_EQ(engine.progress(), 0.0f);
    engine.start();
    StageResults results = sentinel();
    EXPECT_FALSE(engine.isFinished(results));
    EXPECT_EQ(results, sentinel());

    // The final pause: every test done, the bar full, the last count still shown, no results yet.
    ASSERT_TRUE(waitUntil([&] { return engine.testsDone() == kCpuTestCount; }));
    EXPECT_EQ(engine.progress(), 1.0f);
    EXPECT_EQ(engine.currentThreads(), 64u);
    EXPECT_FALSE(engine.isFinished(results));
    EXPECT_EQ(results, sentinel());

    ASSERT_TRUE(waitUntil([&] { return engine.finished(); }));
    ASSERT_TRUE(engine.isFinished(results));
    // The display is woken after every test and once more when the results are ready.
    EXPECT_TRUE(waitUntil([&] { return progressCalls.load() == 23; }));
    ASSERT_EQ(results.cpu_integer.size(), kThreadCounts.size());
    ASSERT_EQ(results.cpu_float.size(), kThreadCounts.size());
    for (std::size_t i = 0; i < kThreadCounts.size(); ++i) {
        EXPECT_EQ(results.cpu_integer[i], (CpuTestResult{kThreadCounts[i], kThreadCounts[i] * kIntegerPerWorker}));
        EXPECT_EQ(results.cpu_float[i], (CpuTestResult{kThreadCounts[i], kThreadCounts[i] * kFloatPerWorker}));
    }
    EXPECT_EQ(results.gpu, sentinel().gpu);  // not the CPU stage's list
    EXPECT_EQ(lines(engine.logText()), expectedLog(kIntegerPerWorker, kFloatPerWorker));

    // Every later call hands the lists over again.
    const StageResults handed = results;
    results.cpu_integer.clear();
    results.cpu_float.push_back({1, 1});
    EXPECT_TRUE(engine.isFinished(results));
    EXPECT_EQ(results, handed);

    std::set<std::tuple<std::size_t, std::size_t, float>> expected;
    for (std::size_t i = 0; i < kThreadCounts.size(); ++i) {
        expected.emplace(i, kThreadCounts[i], static_cast<float>(i) / 22.0f);
        expected.emplace(11 + i, kThreadCounts[i], static_cast<float>(11 + i) / 22.0f);
    }
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(seen.count({0, 1, 0.0f}));    // 0 % until the first test has finished
    EXPECT_TRUE(seen.count({11, 1, 0.5f}));   // 50 % after the 11th
}

TEST(CpuEngine, AbortMakesEveryLaterTestScoreZero) {
    CpuEngineOptions options;
    options.window = 20ms;
    options.finalPause = 0ms;
    options.makeBenchmark = fakeKernels();
    CpuEngine engine(options);
    engine.start();

    ASSERT_TRUE(waitUntil([&] { return engine.testsDone() >= 3; }));
    const std::size_t doneBefore = engine.testsDone();
    engine.abort();
    const std::size_t doneAfter = engine.testsDone();
    ASSERT_TRUE(waitUntil([&] { return engine.finished(); }));

    StageResults results;
    ASSERT_TRUE(engine.isFinished(results));
    std::vector<CpuTestResult> all = results.cpu_integer;
    all.insert(all.end(), results.cpu_float.begin(), results.cpu_float.end());
    ASSERT_EQ(all.size(), kCpuTestCount);
    for (std::size_t i = 0; i < kCpuTestCount; ++i) {
        const std::uint64_t n = kThreadCounts[i % kThreadCounts.size()];
        EXPECT_EQ(all[i].thread_count, n);
        const std::uint64_t perWorker = i < kThreadCounts.size() ? kIntegerPerWorker : kFloatPerWorker;
        if (i < doneBefore) {
            EXPECT_EQ(all[i].score, n * perWorker) << "test " << i;
        }
        if (i > doneAfter) {
            EXPECT_EQ(all[i].score, 0u) << "test " << i;
        }
    }
    EXPECT_EQ(lines(engine.logText()).size(), 23u);
}

// Launching many threads takes a noticeable part of the window on a small processor; a worker
// that started working before the last launch would score work done outside the window.
TEST(CpuEngine, WorkersStartWorkingOnlyOnceTheLastIsLaunched) {
    constexpr std::size_t kWorkers = 8;
    std::atomic<std::size_t> launched{0};
    std::mutex seenMutex;
    std::vector<std::size_t> launchedWhenRunning;
    FakeKernel kernel(1, [&] {
        std::lock_guard<std::mutex> lock(seenMutex);
        launchedWhenRunning.push_back(launched.load());
    });
    CpuEngineOptions options = withDefaults({});
    options.window = 5ms;
    options.launchWorker = [&](std::function<std::uint64_t()> work) {
        auto future = std::async(std::launch::async, std::move(work));
        std::this_thread::sleep_for(2ms);  // time enough for an ungated worker to begin
        launched.fetch_add(1);
        return future;
    };
    std::atomic<bool> abortFlag{false};
    const CpuTestOutcome outcome = runTest(kernel, kWorkers, abortFlag, options);

    EXPECT_EQ(outcome.score, kWorkers);
    EXPECT_GE(outcome.launch, kWorkers * 2ms);
    EXPECT_GE(outcome.window, 5ms);
    ASSERT_EQ(launchedWhenRunning.size(), kWorkers);
    for (const std::size_t seen : launchedWhenRunning) EXPECT_EQ(seen, kWorkers);
}

TEST(CpuEngine, WorkerThatCannotStartEndsTheTestWithTheOthers) {
    // Every test can start five workers and no more.
    CpuEngine* enginePtr = nullptr;
    std::size_t lastCount = 0;
    std::size_t launched = 0;
    CpuEngineOptions options;
    options.window = 5ms;
    options.finalPause = 0ms;
    options.makeBenchmark = fakeKernels();
    options.launchWorker = [&](std::function<std::uint64_t()> work) {
        if (enginePtr->currentThreads() != lastCount) {
            lastCount = enginePtr->currentThreads();
            launched = 0;
        }
        if (launched == 5) {
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again), "thread");
        }
        ++launched;
        return std::async(std::launch::async, std::move(work));
    };
    CpuEngine engine(options);
    enginePtr = &engine;
    engine.start();
    ASSERT_TRUE(waitUntil([&] { return engine.finished(); }));

    StageResults results;
    ASSERT_TRUE(engine.isFinished(results));
    ASSERT_EQ(results.cpu_integer.size(), kThreadCounts.size());
    ASSERT_EQ(results.cpu_float.size(), kThreadCounts.size());
    for (std::size_t i = 0; i < kThreadCounts.size(); ++i) {
        const std::uint64_t n = kThreadCounts[i];
        EXPECT_EQ(results.cpu_integer[i], (CpuTestResult{n, std::min<std::uint64_t>(n, 5) * kIntegerPerWorker}));
        EXPECT_EQ(results.cpu_float[i], (CpuTestResult{n, std::min<std::uint64_t>(n, 5) * kFloatPerWorker}));
    }
    const std::vector<std::string> log = lines(engine.logText());
    EXPECT_EQ(log.size(), 23u + 16u);  // one note for each test of six workers or more
    const std::string note = "Integer Test (6T): only 5 of 6 workers could be started (thread: " +
                             std::make_error_code(std::errc::resource_unavailable_try_again).message() + ")";
    const auto it = std::find(log.begin(), log.end(), note);
    ASSERT_NE(it, log.end()) << engine.logText();
    ASSERT_NE(it + 1, log.end());
    EXPECT_EQ(*(it + 1), "Integer Test (6T): 15 pts");
}

TEST(CpuEngine, EngineThreadThatCannotStartEndsTheStage) {
    CpuEngineOptions options;
    options.makeBenchmark = fakeKernels();
    options.startThread = [](std::function<void()>) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again), "thread");
    };
    CpuEngine engine(options);
    engine.start();
    StageResults results = sentinel();
    ASSERT_TRUE(engine.isFinished(results));
    EXPECT_TRUE(results.cpu_integer.empty());
    EXPECT_TRUE(results.cpu_float.empty());
    EXPECT_EQ(lines(engine.logText()),
              std::vector<std::string>{"Benchmark engine could not be started (thread: " +
                                       std::make_error_code(std::errc::resource_unavailable_try_again).message() + ")"});
}

// Signals when the last copy of the kernel factory, held by the engine thread, is gone.
struct Lifetime {
    std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);
    ~Lifetime() { ended->store(true); }
};

// Quitting (abort, then the window closes) and closing the window without quitting both
// destroy the owner in the middle of a test; the engine thread and the workers go on with
// their own reference to the shared state. Run under the address and thread sanitizers.
TEST(CpuEngine, OwnerDestroyedDuringATest) {
    for (const bool quit : {true, false}) {
        SCOPED_TRACE(quit ? "quit" : "window closed");
        auto inRun = std::make_shared<std::atomic<int>>(0);
        auto lifetime = std::make_shared<Lifetime>();
        const auto ended = lifetime->ended;
        CpuEngineOptions options;
        options.window = 20ms;
        options.finalPause = 20ms;
        auto kernels = fakeKernels([inRun] { inRun->fetch_add(1); });
        options.makeBenchmark = [kernels, lifetime](CpuWorkload w) { return kernels(w); };
        lifetime.reset();

        auto engine = std::make_unique<CpuEngine>(options);
        options = {};  // the engine thread holds the only copy of the factory
        engine->start();
        ASSERT_TRUE(waitUntil([&] { return engine->testsDone() >= 2 && inRun->load() > 3; }));
        if (quit) engine->abort();
        engine.reset();

        // The engine thread finishes on its own and lets go of everything it held.
        ASSERT_TRUE(waitUntil([&] { return ended->load(); }));
    }
}

// The destroyed owner does not wait for the test window, so the process can end at once.
TEST(CpuEngineDeathTest, ProcessEndsWhileATestWindowIsOpen) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
#if defined(__SANITIZE_THREAD__) || TF_HAS_TSAN
    // The child ends with the open test's workers finished but not yet collected, which is
    // the point of this test; the thread sanitizer would report them as leaked threads.
    const char* old = std::getenv("TSAN_OPTIONS");
    setenv("TSAN_OPTIONS", (std::string(old ? old : "") + ":report_thread_leaks=0").c_str(), 1);
#endif
    EXPECT_EXIT(
        {
            CpuEngineOptions options;
            options.window = 600s;
            auto engine = std::make_unique<CpuEngine>(options);  // the real kernels
            engine->start();
            std::this_thread::sleep_for(100ms);
            engine.reset();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
