#pragma once
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>

#include "shell/Input.h"
#include "shell/Stage.h"
#include "render/gl.h"

using StageQueue = std::deque<std::shared_ptr<Stage>>;

// Builds the queue once the window and context exist (stage constructors read the
// monitor size); the product passes its seven stages, tests pass their own.
using StageFactory = std::function<StageQueue()>;

// What happens with the results after the last stage: the product submits them.
using FinishAction = std::function<void(const StageResults&)>;

class Application {
public:
    Application(const StageFactory& makeStages, FinishAction finish);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    void mainLoop();
    void renderFrame();

    StageQueue stages;
    GLFWwindow* window = nullptr;

private:
    void applySwapInterval(Stage& stage);
    void waitForNextFrame(Stage& head, double frameStart);
    // Gives the head the whole run's step and time left, from the queue and the stages'
    // expected durations.
    void updateRunProgress(Stage& head);
    FinishAction finish;
    double refreshRate = 60.0;  // of the monitor's video mode, where it tells one
    FollowUpFrames followUps;
    std::size_t stepCount = 0;
    const Stage* progressHead = nullptr;
    double progressHeadSince = 0;
};

// Brings the full-screen window back whenever it loses the focus (e.g. Alt+Tab).
void onFocusChanged(GLFWwindow* window, int focused);
