#pragma once
// Runs a shell command line and keeps what it printed, for tests that drive a separate program.
#include <string>
#include <vector>

struct CommandRun {
    std::vector<std::string> lines;
    std::string output;
    int exitCode = -1;  // -1 also when the command could not be started or did not exit normally
};

CommandRun runCommand(const std::string& command);
