#pragma once
#include "shell/Stage.h"

// The last stage: keeps "Submitting results, please wait..." on screen while the shell sends
// the results, which blocks the frame. It finishes at once and measures nothing.
class SubmitStage : public Stage {
public:
    // Describing the machine and sending the document usually takes a few seconds.
    SubmitStage() { expectedSeconds = 3; }
    void start() override {}
    void abort() override {}
    void update() override {}
    void drawGui() override;
    bool isFinished(StageResults&) override { return true; }
};
