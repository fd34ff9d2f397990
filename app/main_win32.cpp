// The Windows GUI entry point. The program takes no command-line options, so the
// arguments are ignored.
#include "app/Program.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return runProgram(); }
