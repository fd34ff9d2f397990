#include "stages/GpuBenchmark.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include <imgui.h>

#include "shell/Gui.h"
#include "assets/assets.h"
#include "core/globals.h"
#include "render/Model.h"

namespace {

std::int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Mean of the h slowest of the ascending samples (not empty; 0 < h <= their number).
double slowestMean(const std::vector<double>& sorted, double h) {
    const double wholePart = std::floor(h);
    const auto whole = static_cast<std::size_t>(wholePart);
    const double rest = h - wholePart;
    double sum = 0;
    for (std::size_t i = 0; i < whole; ++i) sum += sorted[i];
    if (rest > 0) sum += rest * sorted[whole];
    // Rounding must not carry the mean outside the samples it was taken over: 226 equal
    // samples of 60 sum and divide to 59.999999999999993, which would report 59.
    const std::size_t last = rest > 0 ? whole : whole - 1;
    return std::clamp(sum / h, sorted.front(), sorted[last]);
}

std::uint64_t truncateRate(double framesPerSecond) {
    return framesPerSecond > 0 ? static_cast<std::uint64_t>(framesPerSecond) : 0;
}

}  // namespace

FrameRateStats frameRateStats(const std::vector<double>& samples) {
    FrameRateStats stats;
    if (samples.empty()) return stats;
    std::vector<double> sorted = samples;
    std::sort(sorted.begin(), sorted.end());
    const double n = static_cast<double>(sorted.size());
    double sum = 0;
    for (double s : sorted) sum += s;
    stats.average = std::clamp(sum / n, sorted.front(), sorted.back());
    stats.tenPercent = slowestMean(sorted, n * 0.1);
    stats.onePercent = slowestMean(sorted, n * 0.01);
    return stats;
}

GpuTestResult toGpuTestResult(std::uint64_t id, const FrameRateStats& stats) {
    return GpuTestResult{id, truncateRate(stats.average), truncateRate(stats.tenPercent),
                         truncateRate(stats.onePercent)};
}

GpuBenchmark::GpuBenchmark(const char* fragmentSource, std::int64_t durationSeconds, const char* title,
                           std::uint64_t id, GpuClocks clocks)
    : title(title), id(id), durationSeconds(durationSeconds), fragmentSource(fragmentSource),
      clocks(std::move(clocks)) {
    if (!this->clocks.monotonicNanoseconds) this->clocks.monotonicNanoseconds = steadyNanoseconds;
    if (!this->clocks.sampleSeconds) this->clocks.sampleSeconds = [] { return glfwGetTime(); };
    expectedSeconds = static_cast<double>(durationSeconds);
}

void GpuBenchmark::start() {
    std::string failureLog;
    program = buildShaderProgram(fragmentSource, modelVertexShader, &failureLog);
    buildFailed = !failureLog.empty();
    if (buildFailed) {
        std::fprintf(stderr, "GPU scene \"%s\" cannot be drawn; it will report 0 frames per second.\n%s", title,
                     failureLog.c_str());
        std::fflush(stderr);
    }
    models.push_back(makeQuadModel(program));
    startClocks();
}

void GpuBenchmark::startClocks() {
    startTime = clocks.monotonicNanoseconds();
    lastSampleTime = clocks.sampleSeconds();
}

void GpuBenchmark::update() {
    const std::int64_t elapsed = elapsedNanoseconds();
    if (!measuring) {
        if (elapsed > kWarmUpNanoseconds) {
            // The first window opens now, so no sample spans the warm-up; the frame just shown
            // was drawn before it and is not counted.
            measuring = true;
            lastSampleTime = clocks.sampleSeconds();
            framesSinceSample = 0;
        }
    } else {
        const double now = clocks.sampleSeconds();
        const double window = now - lastSampleTime;
        ++framesSinceSample;
        if (window > kSampleWindowSeconds) {
            samples.push_back(static_cast<double>(framesSinceSample) / window);
            framesSinceSample = 0;
            lastSampleTime = now;
        }
    }
    // drawScene made the program current this frame and the GUI renderer restores it.
    if (program) program->setFloat("inTime", static_cast<float>(static_cast<double>(elapsed) / 1e9));
}

void GpuBenchmark::drawGui() {
    const ImGuiIO& io = ImGui::GetIO();
    ImGui::SetNextWindowPos(scaled(10, 46), ImGuiCond_Always, ImVec2(0, 0));
    if (ImGui::Begin("Info", nullptr, kFixedWindowFlags)) {
        ImGui::Text("GPU Benchmark %u of %u", static_cast<unsigned>(id), kSceneCount);
        ImGui::Text("%s", title);
        ImGui::Text("%.3f ms/frame (%.1f FPS)", 1000.0f / io.Framerate, io.Framerate);
    }
    ImGui::End();

    ImGui::SetNextWindowPos(ImVec2(static_cast<float>(monitorWidth) - scaled(10.0f),
                                   static_cast<float>(monitorHeight) - scaled(10.0f)),
                            ImGuiCond_Always, ImVec2(1, 1));
    if (ImGui::Begin("Progress", nullptr, kFixedWindowFlags)) {
        const float seconds = static_cast<float>(elapsedNanoseconds()) / 1e9f;
        stageProgressBar(*this, seconds / static_cast<float>(durationSeconds));
    }
    ImGui::End();
}

bool GpuBenchmark::isFinished(StageResults& results) {
    if (durationSeconds * 1'000'000'000 >= elapsedNanoseconds()) return false;
    results.gpu.push_back(buildFailed ? GpuTestResult{id, 0, 0, 0} : toGpuTestResult(id, frameRateStats(samples)));
    return true;
}
