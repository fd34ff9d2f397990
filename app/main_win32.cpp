// The Windows GUI entry point. The program takes no command-line options, so the
// arguments are ignored; the body is the same as main() of the other platforms.
#include "app/Application.h"
#include "app/DefaultStages.h"
#include "platform/platform.h"
#include "report/submit_results.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    raiseProcessPriority();
    {
        Application app(makeDefaultStages, submitResults);
        app.mainLoop();
    }
    return 0;
}
