#include "app/Application.h"
#include "app/DefaultStages.h"
#include "platform/platform.h"

int main() {
    raiseProcessPriority();
    {
        Application app(makeDefaultStages, [](const StageResults&) {
            fatalError("Submitting results is not available in this build.");
        });
        app.mainLoop();
    }
    return 0;
}
