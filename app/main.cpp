#include <cstdio>
#include <cstring>

#include "app/Program.h"

// A run takes no options. --version and --help only print and exit, for packagers and
// for the manual page that help2man makes from them.
int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("tallyforge-benchmark " TALLYFORGE_VERSION);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs("Usage: tallyforge-benchmark\n"
                   "Measures the processor and the graphics card in about two minutes, sends the\n"
                   "result to the result service at " TALLYFORGE_RESULT_HOST " and opens the result page\n"
                   "in the web browser. A run takes no options and no configuration: it opens a\n"
                   "full-screen window on the primary monitor.\n"
                   "\n"
                   "Options:\n"
                   "  --help     show this text and exit\n"
                   "  --version  print the version and exit\n",
                   stdout);
        return 0;
    }
    return runProgram();
}
