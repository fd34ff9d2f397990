// The GPU stage's arithmetic and timing, without a GL context: the reduction of the samples
// to three whole frame rates, and update/isFinished stepped through with hand-set clocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/globals.h"
#include "stages/GpuBenchmark.h"

void PrintTo(const GpuTestResult& r, std::ostream* os) {
    *os << "{" << r.id << ", " << r.average << ", " << r.ten_percent << ", " << r.one_percent << "}";
}

namespace {

std::vector<double> tensUpTo(int n) {  // 10, 20, ..., 10n, shuffled: the input need not be sorted
    std::vector<double> v;
    for (int i = 1; i <= n; ++i) v.push_back(10.0 * i);
    std::shuffle(v.begin(), v.end(), std::mt19937(n));
    return v;
}

struct StatsCase {
    std::string name;
    std::vector<double> samples;
    GpuTestResult expected;
};

void PrintTo(const StatsCase& c, std::ostream* os) { *os << c.name; }

std::string caseName(const testing::TestParamInfo<StatsCase>& info) { return info.param.name; }

class FrameRateStatsTable : public testing::TestWithParam<StatsCase> {};

TEST_P(FrameRateStatsTable, ReducesSamplesToWholeFrameRates) {
    const StatsCase& c = GetParam();
    EXPECT_EQ(toGpuTestResult(7, frameRateStats(c.samples)), c.expected);
}

// With h = n x 0.1 (or 0.01): the floor(h) slowest samples whole, the next one weighted by
// h - floor(h), divided by h.
INSTANTIATE_TEST_SUITE_P(
    Cases, FrameRateStatsTable,
    testing::Values(
        // Average 1255; 25 slowest: 3250 / 25 = 130; 2.5 slowest: (10 + 20 + 0.5 * 30) / 2.5 = 18.
        StatsCase{"n250", tensUpTo(250), {7, 1255, 130, 18}},
        // 100.5 slowest: (50500 + 0.5 * 1010) / 100.5 = 507.51; 10.05 slowest: (550 + 0.05 * 110) / 10.05 = 55.27.
        StatsCase{"n1005", tensUpTo(1005), {7, 5030, 507, 55}},
        // Fewer than ten: half of the slowest sample divided by a half is that sample, never more.
        StatsCase{"n5", {100, 40, 120, 90, 200}, {7, 110, 40, 40}},
        // Fewer than a hundred: 5 slowest (10..50) for the tenth, the slowest alone for the hundredth.
        StatsCase{"n50", tensUpTo(50), {7, 255, 30, 10}},
        StatsCase{"one_sample", {75.5}, {7, 75, 75, 75}},
        // The worked example of the service's "How we measure" page: 600 samples of 125 and
        // ten 50 ms hitches of 20. 75200 / 610 = 123.3; 6575 / 61 = 107.8; 6.1 x 20 / 6.1 = 20.
        StatsCase{"methodology_page_example",
                  [] {
                      std::vector<double> v(600, 125.0);
                      v.insert(v.begin() + 300, 10, 20.0);
                      return v;
                  }(),
                  {7, 123, 107, 20}},
        // Equal samples report their own value, even where the weighted sum rounds below it.
        StatsCase{"equal_n226", std::vector<double>(226, 60.0), {7, 60, 60, 60}},
        StatsCase{"equal_n1005", std::vector<double>(1005, 144.0), {7, 144, 144, 144}},
        StatsCase{"truncated_not_rounded", std::vector<double>(20, 59.99), {7, 59, 59, 59}},
        StatsCase{"no_samples", {}, {7, 0, 0, 0}}),
    caseName);

// Clocks under the test's control: nanoseconds for the monotonic clock, seconds for the sample clock.
struct FakeClocks {
    std::int64_t nanoseconds = 0;
    double seconds = 0;
};

std::shared_ptr<GpuBenchmark> makeStage(const std::shared_ptr<FakeClocks>& clocks, std::int64_t duration = 15) {
    GpuClocks injected{[clocks] { return clocks->nanoseconds; }, [clocks] { return clocks->seconds; }};
    auto stage = std::make_shared<GpuBenchmark>("", duration, "Test scene", 3, injected);
    stage->startClocks();
    return stage;
}

class GpuStageClock : public testing::Test {
protected:
    void SetUp() override {
        monitorWidth = 1280;
        monitorHeight = 720;
    }
    std::shared_ptr<FakeClocks> clocks = std::make_shared<FakeClocks>();
};

TEST_F(GpuStageClock, WarmUpLastsThroughExactlyOneSecond) {
    clocks->nanoseconds = 5'000;
    clocks->seconds = 40.0;
    auto stage = makeStage(clocks);
    clocks->nanoseconds = 5'000 + 1'000'000'000;
    clocks->seconds = 41.0;
    stage->update();
    EXPECT_FALSE(stage->measuring);
    EXPECT_EQ(stage->lastSampleTime, 40.0);

    clocks->nanoseconds += 1;
    clocks->seconds = 41.5;
    stage->update();
    EXPECT_TRUE(stage->measuring);
    EXPECT_TRUE(stage->samples.empty());
}

TEST_F(GpuStageClock, FirstSampleStartsWhenWarmUpEnds) {
    auto stage = makeStage(clocks);
    clocks->nanoseconds = 1'200'000'000;  // a slow first second must not show up in any sample
    clocks->seconds = 1.25;
    stage->update();
    ASSERT_TRUE(stage->measuring);
    EXPECT_EQ(stage->lastSampleTime, 1.25);
    EXPECT_EQ(stage->framesSinceSample, 0u);

    for (double t : {1.25 + 0.0078125, 1.25 + 0.015625}) {  // two frames of 1/128 s
        clocks->seconds = t;
        stage->update();
    }
    ASSERT_EQ(stage->samples.size(), 1u);
    EXPECT_EQ(stage->samples[0], 128.0);
}

TEST_F(GpuStageClock, WindowOfExactlyTenMillisecondsMakesNoSample) {
    auto stage = makeStage(clocks);
    clocks->nanoseconds = 2'000'000'000;
    clocks->seconds = 0.0;
    stage->update();  // ends the warm-up; the window opens at 0
    clocks->seconds = 0.01;
    stage->update();
    EXPECT_TRUE(stage->samples.empty());
    EXPECT_EQ(stage->framesSinceSample, 1u);
    clocks->seconds = 0.03;
    stage->update();
    ASSERT_EQ(stage->samples.size(), 1u);
    EXPECT_DOUBLE_EQ(stage->samples[0], 2 / 0.03);  // the carried frame counts in the next window
}

TEST_F(GpuStageClock, FinishesOnlyAfterTheWholeDurationAndAppendsOnce) {
    auto stage = makeStage(clocks, 3);
    StageResults results;
    results.gpu.push_back({1, 100, 90, 80});
    // Frames of exactly 1/64 s from the end of the warm-up to the end of the duration.
    clocks->nanoseconds = 1'000'000'001;
    clocks->seconds = 10.0;
    stage->update();
    while (clocks->nanoseconds < 3'000'000'000) {
        clocks->nanoseconds += 15'625'000;
        clocks->seconds += 0.015625;
        stage->update();
    }
    clocks->nanoseconds = 3'000'000'000;
    EXPECT_FALSE(stage->isFinished(results));
    EXPECT_EQ(results.gpu.size(), 1u);

    clocks->nanoseconds += 1;
    ASSERT_TRUE(stage->isFinished(results));
    ASSERT_EQ(results.gpu.size(), 2u);
    EXPECT_EQ(results.gpu[0], (GpuTestResult{1, 100, 90, 80}));
    EXPECT_EQ(results.gpu[1], (GpuTestResult{3, 64, 64, 64}));
    EXPECT_EQ(stage->samples.size(), 128u);
}

TEST_F(GpuStageClock, KeepsSamplesInTheOrderTaken) {
    auto stage = makeStage(clocks, 2);
    clocks->nanoseconds = 1'500'000'000;
    stage->update();
    for (double frame : {0.5, 0.25, 0.125}) {
        clocks->seconds += frame;
        stage->update();
    }
    EXPECT_EQ(stage->samples, (std::vector<double>{2, 4, 8}));
    clocks->nanoseconds = 2'000'000'001;
    StageResults results;
    ASSERT_TRUE(stage->isFinished(results));
    EXPECT_EQ(stage->samples, (std::vector<double>{2, 4, 8}));  // sorted on a copy
    // Average 14 / 3; a tenth of 3 is 0.3 of the slowest sample: 2.
    EXPECT_EQ(results.gpu.at(0), (GpuTestResult{3, 4, 2, 2}));
}

TEST(GpuStageInterface, RunsWithoutVsync) {
    monitorWidth = 1280;
    monitorHeight = 720;
    GpuBenchmark stage("", 15, "Electron", 2);
    EXPECT_FALSE(stage.wantsVsync());
    EXPECT_EQ(stage.durationSeconds, 15);
    EXPECT_EQ(stage.id, 2u);
    EXPECT_STREQ(stage.title, "Electron");
    EXPECT_EQ(stage.program, nullptr);  // nothing is built before start
    EXPECT_TRUE(stage.models.empty());
}

}  // namespace
