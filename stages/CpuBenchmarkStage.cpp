#include "stages/CpuBenchmarkStage.h"

#include <imgui.h>

#include <chrono>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "shell/Gui.h"
#include "assets/assets.h"
#include "core/globals.h"

struct CpuBenchmarkStage::Waker {
    std::mutex mutex;
    bool active = true;
};

namespace {

// The engine thread outlives the stage; once the stage is gone, GLFW may be too.
CpuEngineOptions withWakeUp(CpuEngineOptions options, const std::shared_ptr<CpuBenchmarkStage::Waker>& waker) {
    options.onProgress = [waker, next = std::move(options.onProgress)] {
        if (next) next();
        std::lock_guard<std::mutex> lock(waker->mutex);
        if (waker->active) glfwPostEmptyEvent();
    };
    return options;
}

double runSeconds(const CpuEngineOptions& options) {
    return std::chrono::duration<double>(options.window * kCpuTestCount + options.finalPause).count();
}

}  // namespace

CpuBenchmarkStage::CpuBenchmarkStage(CpuEngineOptions options)
    : waker(std::make_shared<Waker>()), engine(withWakeUp(options, waker)) {
    expectedSeconds = runSeconds(options);
}

CpuBenchmarkStage::~CpuBenchmarkStage() {
    std::lock_guard<std::mutex> lock(waker->mutex);
    waker->active = false;
}

void CpuBenchmarkStage::start() {
    auto program = buildShaderProgram(materialFragmentShader, modelVertexShader);
    {
        const std::vector<Texture> textures{
            Texture(Diffuse, backgroundImage, static_cast<std::int32_t>(backgroundImageSize))};
        models.push_back(makeTexturedQuadModel(program, textures));
    }
    engine.start();
}

void CpuBenchmarkStage::abort() { engine.abort(); }

void CpuBenchmarkStage::drawGui() {
    const float width = static_cast<float>(monitorWidth);
    const float height = static_cast<float>(monitorHeight);

    ImGui::SetNextWindowPos(scaled(10, 46), ImGuiCond_Always, ImVec2(0, 0));
    if (ImGui::Begin("Info", nullptr, kFixedWindowFlags)) {
        ImGui::Text("CPU Benchmark");
        ImGui::Text("Running test with %zu threads", engine.currentThreads());
    }
    ImGui::End();

    ImGui::SetNextWindowPos(ImVec2(width - scaled(10.0f), height - scaled(10.0f)), ImGuiCond_Always, ImVec2(1, 1));
    if (ImGui::Begin("Progress", nullptr, kFixedWindowFlags)) {
        stageProgressBar(*this, engine.progress());
    }
    ImGui::End();

    ImGui::SetNextWindowSize(scaled(340, 140), ImGuiCond_Always);
    ImGui::SetNextWindowPos(ImVec2(scaled(10.0f), height - scaled(10.0f)), ImGuiCond_Always, ImVec2(0, 1));
    if (ImGui::Begin("Log", nullptr, kFixedWindowFlags)) {
        const std::string log = engine.logText();
        ImGui::Text("%s", log.c_str());
        ImGui::SetScrollHereY(1.0f);
    }
    ImGui::End();
}

bool CpuBenchmarkStage::isFinished(StageResults& results) { return engine.isFinished(results); }
