// tallyforge-sysinfo: prints the machine description that the benchmark would send with
// its results, as indented JSON, so it can be checked before a run. The OpenGL strings
// and the screen size need the benchmark's window and stay empty and 0 here; the score
// lists are empty because nothing was measured.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "sysinfo/inventory.h"
#include "sysinfo/power.h"
#ifndef _WIN32
#include "sysinfo/linux_provider.h"
#endif

namespace {

nlohmann::json toJson(const SystemInventory& inv) {
    using nlohmann::json;
    json controllers = json::array();
    for (const VideoControllerInfo& v : inv.video_controllers)
        controllers.push_back({{"name", v.name},
                               {"description", v.description},
                               {"driver_version", v.driver_version},
                               {"pnp_device_id", v.pnp_device_id}});
    json cpuInteger = json::array(), cpuFloat = json::array(), gpu = json::array();
    for (const CpuTestResult& r : inv.score.cpu_integer)
        cpuInteger.push_back({{"thread_count", r.thread_count}, {"score", r.score}});
    for (const CpuTestResult& r : inv.score.cpu_float)
        cpuFloat.push_back({{"thread_count", r.thread_count}, {"score", r.score}});
    for (const GpuTestResult& r : inv.score.gpu)
        gpu.push_back({{"id", r.id}, {"average", r.average}, {"ten_percent", r.ten_percent}, {"one_percent", r.one_percent}});
    return {
        {"windows_uuid", inv.windows_uuid},
        {"windows_version", inv.windows_version},
        {"computer_system",
         {{"form_factor", inv.computer_system.form_factor},
          {"total_physical_memory", inv.computer_system.total_physical_memory},
          {"manufacturer", inv.computer_system.manufacturer},
          {"model", inv.computer_system.model}}},
        {"processor",
         {{"manufacturer", inv.processor.manufacturer},
          {"name", inv.processor.name},
          {"socket", inv.processor.socket},
          {"clock_speed", inv.processor.clock_speed},
          {"core_count", inv.processor.core_count},
          {"thread_count", inv.processor.thread_count},
          {"l2_cache", inv.processor.l2_cache},
          {"l3_cache", inv.processor.l3_cache}}},
        {"video_controllers", controllers},
        {"gl_gpu", {{"vendor", inv.gl_gpu.vendor}, {"renderer", inv.gl_gpu.renderer}}},
        {"resolution", {{"width", inv.width}, {"height", inv.height}}},
        {"score", {{"cpu_integer", cpuInteger}, {"cpu_float", cpuFloat}, {"gpu", gpu}}},
    };
}

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
