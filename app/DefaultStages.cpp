#include "app/DefaultStages.h"

#include "assets/assets.h"
#include "stages/CpuBenchmarkStage.h"
#include "stages/GpuBenchmark.h"
#include "stages/SubmitStage.h"
#include "stages/WelcomeStage.h"

StageQueue makeDefaultStages() {
    StageQueue stages;
    stages.push_back(std::make_shared<WelcomeStage>());
    stages.push_back(std::make_shared<CpuBenchmarkStage>());
    stages.push_back(std::make_shared<GpuBenchmark>(asText(fluxCoreShaderData), 23, "Flux Core", 1));
    stages.push_back(std::make_shared<GpuBenchmark>(asText(electronShaderData), 15, "Electron", 2));
    stages.push_back(std::make_shared<GpuBenchmark>(asText(cityShaderData), 22, "City", 3));
    stages.push_back(std::make_shared<GpuBenchmark>(asText(cloudsShaderData), 15, "Clouds", 4));
    stages.push_back(std::make_shared<SubmitStage>());
    return stages;
}
