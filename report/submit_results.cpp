#include "report/submit_results.h"

#include <utility>

#include "report/gl_strings.h"
#include "report/submission.h"
#include "sysinfo/inventory.h"

void submitResults(const StageResults& results) {
    GlGpuInfo glGpu = readGlGpuInfo();
    StageResults copy = results;  // the main loop's record stays as it is
    const SystemInventory inventory = gatherSystemInventory(std::move(glGpu), std::move(copy));
    submitInventory(inventory, resultServiceClient());
}
