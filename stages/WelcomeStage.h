#pragma once
#include <memory>
#include <string>

#include "shell/Stage.h"

class WelcomeStage : public Stage {
public:
    void start() override;
    void abort() override {}
    void update() override {}
    void drawGui() override;
    bool isFinished(StageResults& results) override;

    bool startRequested = false;
    std::shared_ptr<Texture> logo;
};

// One line per GPU scene: title, author and licence.
std::string sceneCredits();

// The footer of the info window: the result service's domain and the source revision.
std::string welcomeFooter();
