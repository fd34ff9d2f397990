#include "app/Program.h"

#include "shell/Application.h"
#include "app/DefaultStages.h"
#include "platform/platform.h"
#include "app/submit_results.h"

int runProgram() {
    raiseProcessPriority();
    {
        Application app(makeDefaultStages, submitResults);
        app.mainLoop();
    }
    return 0;
}
