#include "app/DefaultStages.h"

#include "assets/assets.h"
#include "core/protocol.h"
#include "stages/CpuBenchmarkStage.h"
#include "stages/GpuBenchmark.h"
#include "stages/SubmitStage.h"
#include "stages/WelcomeStage.h"

StageQueue makeDefaultStages() {
    StageQueue stages;
    stages.push_back(std::make_shared<WelcomeStage>());
    stages.push_back(std::make_shared<CpuBenchmarkStage>());
    for (const SceneInfo& scene : kScenes) {
        stages.push_back(
            std::make_shared<GpuBenchmark>(sceneShader(scene.key), scene.durationSeconds, scene.title, scene.id));
    }
    stages.push_back(std::make_shared<SubmitStage>());
    return stages;
}
