// The GPU stages and the submit stage in the real shell (under Xvfb): vertical sync off for
// the four scenes and back on for the submit screen, which is shown exactly twice before the
// results are handed on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/command.h"
#include "tests/support/display.h"

namespace {

CommandRun runHarness() { return runCommand(std::string("'") + GPU_HARNESS + "' 2>/dev/null"); }

TEST(GpuRun, SwapIntervalAndPresentsAcrossTheGpuAndSubmitStages) {
    TALLYFORGE_REQUIRE_DISPLAY();
    const CommandRun run = runHarness();
    ASSERT_EQ(run.exitCode, 0) << run.output;

    // Stage starts and swap intervals, in order: the first head starts before its interval is
    // set, every later one after.
    std::vector<std::string> changes;
    for (const auto& l : run.lines)
        if (l.rfind("start ", 0) == 0 || l.rfind("interval ", 0) == 0) changes.push_back(l);
    const std::vector<std::string> expectedChanges = {
        "start Flux Core", "interval 0", "interval 0", "start Electron", "interval 0", "start City",
        "interval 0",      "start Clouds", "interval 1", "start Submit"};
    EXPECT_EQ(changes, expectedChanges) << run.output;

    const auto submitStart = std::find(run.lines.begin(), run.lines.end(), "start Submit");
    ASSERT_NE(submitStart, run.lines.end()) << run.output;
    // Every frame of the scene stages shows their Info and Progress windows.
    const auto gpuFrames = std::count_if(run.lines.begin(), submitStart,
                                         [](const std::string& l) { return l.rfind("present", 0) == 0; });
    EXPECT_GE(gpuFrames, 4);
    EXPECT_EQ(std::count(run.lines.begin(), submitStart, "present Info,Progress"), gpuFrames) << run.output;

    const std::vector<std::string> tail(submitStart, run.lines.end());
    const std::vector<std::string> expectedTail = {"start Submit", "present Submitting results",
                                                   "present Submitting results", "finish gpu 1,2,3,4", "exit"};
    EXPECT_EQ(tail, expectedTail) << run.output;
}

}  // namespace
