#pragma once
#include <memory>
#include <string>
#include <vector>

#include "core/records.h"
#include "render/Camera.h"
#include "render/Model.h"

// One step of the program's fixed sequence. The shell drives the head of its queue:
// start once, then every pass drawGui (inside the frame), update, isFinished.
class Stage {
public:
    Stage();
    virtual ~Stage() = default;
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;

    virtual void start() = 0;
    virtual void abort() = 0;
    virtual void update() = 0;
    virtual void drawGui() = 0;
    virtual bool isFinished(StageResults& results) = 0;
    virtual bool wantsVsync() { return true; }
    // The most frames per second the shell draws while this stage is the head and wants
    // vertical sync; 0 means the display's refresh rate. Input still wakes the shell at once.
    virtual double maxFrameRate() { return 0.0; }

    // Draws `models` in order, switching programs only when the next model's differs.
    void drawScene();

    Camera camera;
    Mat4 projection;
    std::vector<std::shared_ptr<Model>> models;

    // How long the stage runs once started, for the whole run's time left; 0 for a stage that
    // waits for the user.
    double expectedSeconds = 0;
    // Where the whole run stands ("Step 3 of 7 · about 1 min 20 s left"), written by the shell
    // before each drawGui; stages with a progress bar show it beside theirs.
    std::string runProgress;
};
