#pragma once
#include <cstdint>

#include "core/records.h"

// A complete inventory with text that needs escaping and a driver string that is not
// valid UTF-8, shared by the submission tests and their driver program.
inline SystemInventory sampleInventory() {
    SystemInventory inv;
    inv.windows_uuid = "4C4C4544-0042-3910-8032-B7C04F4E3332";
    inv.windows_version = "Debian GNU/Linux 12 (bookworm)";
    inv.computer_system = {3, 34359738368ull, "Caf\xC3\xA9 Computers", "Tower \"Pro\""};
    inv.processor = {"GenuineIntel", "Core i7-9700", "LGA1151", 4700, 8, 8, 2048, 12288};
    inv.video_controllers = {{"Render \xE2\x84\xA2", "VGA", "6.1.0", "PCI\\VEN_8086&DEV_3E98"}};
    inv.gl_gpu = {"Mesa", "llvmpipe \xFF(LLVM 15)"};
    inv.width = 1280;
    inv.height = 720;
    // A full run: eleven thread counts per CPU kernel and four scenes, which makes the
    // body larger than the point where HTTP clients like to wait for "100 Continue".
    for (std::uint64_t threads : {1, 2, 4, 6, 8, 12, 16, 24, 32, 48, 64}) {
        inv.score.cpu_integer.push_back({threads, 1000 * threads});
        inv.score.cpu_float.push_back({threads, 500 * threads});
    }
    inv.score.gpu = {{1, 60, 50, 40}, {2, 0, 0, 0}, {3, 144, 120, 99}, {4, 30, 25, 20}};
    return inv;
}
