#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "shell/Stage.h"
#include "core/protocol.h"
#include "core/records.h"
#include "render/ShaderProgram.h"

// The two time sources of a GPU stage. The monotonic clock drives the warm-up, "inTime", the
// duration and the progress bar; the sample clock times the frame-rate windows. Tests replace
// both to step through a stage in microseconds.
struct GpuClocks {
    std::function<std::int64_t()> monotonicNanoseconds;  // empty: std::chrono::steady_clock
    std::function<double()> sampleSeconds;               // empty: glfwGetTime
};

// The three figures of a scene before they are truncated to whole frames per second.
struct FrameRateStats {
    double average = 0;
    double tenPercent = 0;
    double onePercent = 0;
};

// Mean of all samples and the means of the slowest tenth and hundredth. A fraction h of n
// samples takes the floor(h) slowest whole and the next one weighted by what is left of h, so
// a mean never exceeds the values it is taken over (even with fewer than ten samples). No
// samples give zeros.
FrameRateStats frameRateStats(const std::vector<double>& samples);

// The recorded result: each mean truncated toward zero.
GpuTestResult toGpuTestResult(std::uint64_t id, const FrameRateStats& stats);

// One animated full-screen scene drawn with vertical sync off for a fixed time. After a
// one-second warm-up it takes a frame-rate sample whenever more than 10 ms have passed, and
// when the time is up it appends one GpuTestResult to the results.
class GpuBenchmark : public Stage {
public:
    static constexpr std::int64_t kWarmUpNanoseconds = 1'000'000'000;
    static constexpr double kSampleWindowSeconds = 0.01;
    static constexpr unsigned kSceneCount = kScenes.size();

    GpuBenchmark(const char* fragmentSource, std::int64_t durationSeconds, const char* title, std::uint64_t id,
                 GpuClocks clocks = {});

    void start() override;
    void abort() override {}
    void update() override;
    void drawGui() override;
    bool isFinished(StageResults& results) override;
    bool wantsVsync() override { return false; }

    // The clock part of start: stamps the start time and the sample clock. Needs no GL.
    void startClocks();

    const char* title;
    std::uint64_t id;
    double lastSampleTime = 0;
    std::uint32_t framesSinceSample = 0;
    std::vector<double> samples;
    bool measuring = false;
    std::int64_t durationSeconds;
    std::int64_t startTime = 0;
    std::shared_ptr<ShaderProgram> program;
    const char* fragmentSource;
    // The scene's shader did not compile or its program did not link: the stage still runs
    // its time, but reports zeros rather than the frame rate of empty frames.
    bool buildFailed = false;

private:
    std::int64_t elapsedNanoseconds() const { return clocks.monotonicNanoseconds() - startTime; }
    GpuClocks clocks;
};
