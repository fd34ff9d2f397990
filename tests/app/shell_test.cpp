// The shell driven end to end in a real window (run under Xvfb): pass order, swap intervals,
// the quit popup clicked with real pointer events, and start-up failure without a display.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/command.h"
#include "tests/support/display.h"

namespace {

CommandRun harness(const std::string& scenario) {
    return runCommand(std::string("'") + SHELL_HARNESS + "' " + scenario + " 2>&1");
}

std::vector<std::string> without(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> kept;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept),
                 [&](const std::string& l) { return l.rfind(prefix, 0) != 0; });
    return kept;
}

}  // namespace

TEST(Shell, RunsStagesInPassOrderWithSwapIntervals) {
    TALLYFORGE_REQUIRE_DISPLAY();
    const CommandRun run = harness("sequence");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::vector<std::string> expected = {
        // First stage: start, then its interval.
        "start A", "interval 1",
        "drawGui A", "present", "update A", "isFinished A false",
        "drawGui A", "present", "update A", "isFinished A true",
        // Next stages: destroyed, interval from the new head, then its start.
        "destroy A", "interval 0", "start B",
        // Finishing on the first call: shown for exactly one frame.
        "drawGui B", "present", "update B", "isFinished B true",
        "destroy B", "interval 1", "start C",
        // The last stage is presented twice before the finishing action.
        "drawGui C", "present", "update C", "isFinished C true",
        "drawGui C", "present", "finish",
        "loop-ended", "destroy C", "exit"};
    EXPECT_EQ(run.lines, expected) << run.output;
}

TEST(Shell, QuitFromTitleBarAbortsHeadAndEndsWithoutFinishing) {
    TALLYFORGE_REQUIRE_DISPLAY();
    const CommandRun run = harness("quit");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const auto lines = without(without(run.lines, "drawGui"), "present");
    auto abortAt = std::find(lines.begin(), lines.end(), "abort Q");
    ASSERT_NE(abortAt, lines.end()) << run.output;
    EXPECT_NE(std::find(lines.begin(), abortAt, "popup-open"), abortAt) << "popup was not shown before Quit";
    // The pass that saw the click still runs update and isFinished, then the loop ends.
    const std::vector<std::string> tail(abortAt, lines.end());
    const std::vector<std::string> expectedTail = {"abort Q",    "update Q",  "isFinished Q false",
                                                   "loop-ended", "destroy Q", "destroy L", "exit"};
    EXPECT_EQ(tail, expectedTail) << run.output;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "finish"), 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "start L"), 0);
}

TEST(Shell, CancelClosesPopupAndRunGoesOn) {
    TALLYFORGE_REQUIRE_DISPLAY();
    const CommandRun run = harness("cancel");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const auto& l = run.lines;
    auto opened = std::find(l.begin(), l.end(), "popup-open");
    ASSERT_NE(opened, l.end()) << run.output;
    EXPECT_NE(std::find(opened, l.end(), "popup-closed"), l.end()) << run.output;
    EXPECT_EQ(std::count(l.begin(), l.end(), "abort Q"), 0);
    EXPECT_EQ(std::count(l.begin(), l.end(), "timeout"), 0);
    EXPECT_NE(std::find(l.begin(), l.end(), "start L"), l.end());
    EXPECT_NE(std::find(l.begin(), l.end(), "finish"), l.end()) << run.output;
}

TEST(Shell, StartWithoutDisplayFailsWithMessage) {
    const CommandRun run = runCommand(std::string("env -u DISPLAY -u WAYLAND_DISPLAY '") + BENCHMARK_EXE + "' 2>&1");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("Cannot load GLFW!"), std::string::npos) << run.output;
}

TEST(Shell, ExportsDriverHints) {
    const CommandRun run = runCommand(std::string("nm -D --defined-only '") + BENCHMARK_EXE + "'");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find(" D NvOptimusEnablement"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(" D AmdPowerXpressRequestHighPerformance"), std::string::npos) << run.output;
}
