// The CPU stage in the real shell (under Xvfb): its three windows on every frame, the two
// result lists handed on, and a window closed in the middle of a test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/command.h"
#include "tests/support/display.h"

namespace {

CommandRun runHarness(const std::string& mode) {
    return runCommand(std::string("'") + CPU_STAGE_HARNESS + "' " + mode + " 2>/dev/null");
}

TEST(CpuStage, ShowsItsWindowsAndHandsOnBothLists) {
    TALLYFORGE_REQUIRE_DISPLAY();
    const CommandRun run = runHarness("run");
    ASSERT_EQ(run.exitCode, 0) << run.output;

    std::vector<std::string> changes;
    for (const auto& l : run.lines)
        if (l.rfind("start ", 0) == 0 || l.rfind("interval ", 0) == 0) changes.push_back(l);
    EXPECT_EQ(changes, (std::vector<std::string>{"start CPU", "interval 1", "interval 1", "start Submit"})) << run.output;

    const auto submitStart = std::find(run.lines.begin(), run.lines.end(), "start Submit");
    ASSERT_NE(submitStart, run.lines.end()) << run.output;
    const auto cpuFrames = std::count_if(run.lines.begin(), submitStart,
                                         [](const std::string& l) { return l.rfind("present", 0) == 0; });
    EXPECT_GE(cpuFrames, 2);
    EXPECT_EQ(std::count(run.lines.begin(), submitStart, "present Info,Progress,Log"), cpuFrames) << run.output;

    std::string integer = "finish integer ", floating = "finish float ";
    for (int n : {1, 2, 4, 6, 8, 12, 16, 24, 32, 48, 64}) {
        const bool first = n == 1;
        integer += (first ? "" : ",") + std::to_string(n) + ":" + std::to_string(3 * n);
        floating += (first ? "" : ",") + std::to_string(n) + ":" + std::to_string(7 * n);
    }
    const std::vector<std::string> tail(submitStart, run.lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"start Submit", "present Submitting results",
                                              "present Submitting results", integer, floating, "exit"}))
        << run.output;
}

TEST(CpuStage, WindowClosedDuringATestEndsTheProgram) {
    TALLYFORGE_REQUIRE_DISPLAY();
    // The test window is ten minutes long; the program ends only because nothing waits for it.
    const CommandRun run = runHarness("close");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    ASSERT_GE(run.lines.size(), 2u) << run.output;
    EXPECT_EQ(run.lines[run.lines.size() - 2], "workers stopped") << run.output;
    EXPECT_EQ(run.lines.back(), "exit");
    EXPECT_EQ(run.output.find("finish"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("start Submit"), std::string::npos) << run.output;
}

}  // namespace
