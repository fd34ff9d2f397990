#pragma once
#include "shell/Application.h"

// The program's own run: welcome, CPU test, the four GPU scenes, submission screen.
StageQueue makeDefaultStages();
