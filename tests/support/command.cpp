#include "command.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <sstream>

CommandRun runCommand(const std::string& command) {
    CommandRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buffer{};
    while (fgets(buffer.data(), static_cast<int>(buffer.size()), pipe)) run.output += buffer.data();
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream in(run.output);
    for (std::string line; std::getline(in, line);) run.lines.push_back(line);
    return run;
}
