#include "app/Program.h"

#include "app/Application.h"
#include "app/DefaultStages.h"
#include "platform/platform.h"
#include "report/submit_results.h"

int runProgram() {
    raiseProcessPriority();
    {
        Application app(makeDefaultStages, submitResults);
        app.mainLoop();
    }
    return 0;
}
