#pragma once

// The whole program, the same on every platform: priority, window, stages, submission.
int runProgram();
