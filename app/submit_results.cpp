#include "app/submit_results.h"

#include <utility>

#include "app/gl_strings.h"
#include "platform/platform.h"
#include "report/submission.h"
#include "sysinfo/inventory.h"

void submitInventory(const SystemInventory& inventory, const HttpsClient& client) {
    const SubmissionOutcome outcome = postInventory(inventory, client);
    if (!outcome.success) fatalError(outcome.text);
    // Whether a browser could be started is not examined: the result is stored either way.
    openUrl(outcome.text);
}

void submitResults(const StageResults& results) {
    GlGpuInfo glGpu = readGlGpuInfo();
    StageResults copy = results;  // the main loop's record stays as it is
    const SystemInventory inventory = gatherSystemInventory(std::move(glGpu), std::move(copy));
    submitInventory(inventory, resultServiceClient());
}
