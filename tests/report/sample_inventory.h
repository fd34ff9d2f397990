#pragma once
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
    inv.score.cpu_integer = {{1, 1000}, {2, 1990}};
    inv.score.cpu_float = {{1, 500}};
    inv.score.gpu = {{1, 60, 50, 40}, {2, 0, 0, 0}};
    return inv;
}
