// tallyforge-sysinfo: prints the machine description that the benchmark would send with
// its results, as indented JSON, so it can be checked before a run. The OpenGL strings
// and the screen size need the benchmark's window and stay empty and 0 here; the score
// lists are empty because nothing was measured.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "core/document.h"
#include "sysinfo/inventory.h"
#include "sysinfo/power.h"
#ifndef _WIN32
#include "sysinfo/linux_provider.h"
#endif

namespace {

void usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: tallyforge-sysinfo"
#ifndef _WIN32
                 " [--root DIR]"
#endif
                 "\n"
                 "Prints the machine description the benchmark sends with its results.\n"
                 "gl_gpu and resolution need the benchmark's window and stay empty/0 here;\n"
                 "score is empty because nothing is measured. The power check goes to stderr.\n"
#ifndef _WIN32
                 "  --root DIR  read procfs, sysfs and /etc under DIR instead of /\n"
#endif
                 "  --help      show this text and exit\n"
                 "  --version   print the version and exit\n"
    );
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            usage(stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("tallyforge-sysinfo " TALLYFORGE_VERSION);
            return 0;
        }
#ifndef _WIN32
        if (std::strcmp(argv[i], "--root") == 0 && i + 1 < argc) {
            setProviderRoot(argv[++i]);
            continue;
        }
#endif
        usage(stderr);
        return 2;
    }
    const SystemInventory inventory = gatherSystemInventory(GlGpuInfo{}, StageResults{});
    std::cout << toJson(inventory).dump(2) << '\n';
    std::cerr << (isOnBattery() ? "power: on battery (the benchmark would warn)\n"
                                : "power: on line power, or no battery reported\n");
    return 0;
}
