// The shell driven end to end in a real window (run under Xvfb): pass order, swap intervals,
// the quit popup clicked with real pointer events, and start-up failure without a display.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "shell/RunProgress.h"
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
        // Each head is told its step and the time the rest of the run should take: its
        // own expected time (less what has passed, well under a second here) and the others'.
        "start A", "interval 1",
        "drawGui A Step 1 of 3 \u00b7 about 8 s left", "present", "update A", "isFinished A false",
        "drawGui A Step 1 of 3 \u00b7 about 8 s left", "present", "update A", "isFinished A true",
        // Next stages: destroyed, interval from the new head, then its start.
        "destroy A", "interval 0", "start B",
        // Finishing on the first call: shown for exactly one frame.
        "drawGui B Step 2 of 3 \u00b7 about 8 s left", "present", "update B", "isFinished B true",
        "destroy B", "interval 1", "start C",
        // The last stage is presented twice before the finishing action.
        "drawGui C Step 3 of 3 \u00b7 about 3 s left", "present", "update C", "isFinished C true",
        "drawGui C Step 3 of 3 \u00b7 about 3 s left", "present", "finish",
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

// Wherever the swap interval is not honoured (here Xvfb), a stage that wants vertical sync is
// paced by the shell itself, while a stage that does not want it is drawn as fast as it goes.
TEST(Shell, PacesStagesThatWantVsyncAndNoOthers) {
    TALLYFORGE_REQUIRE_DISPLAY();
    const CommandRun run = harness("pacing");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    int paced = -1, unpaced = -1;
    for (const std::string& line : run.lines) {
        std::sscanf(line.c_str(), "frames paced %d", &paced);
        std::sscanf(line.c_str(), "frames unpaced %d", &unpaced);
    }
    // One second at 5 frames per second: 5 frames, the one that ends it, and one for each of
    // the window's own events as it is mapped and focused.
    EXPECT_GE(paced, 1) << run.output;
    EXPECT_LE(paced, 10) << run.output;
    // An empty frame takes a few milliseconds even on a software renderer.
    EXPECT_GT(unpaced, 30) << run.output;
}

TEST(Shell, RunProgressLineCountsStepsAndRoundsTimeLeftUp) {
    const struct {
        std::size_t step, steps;
        double seconds;
        const char* text;
    } cases[] = {
        {3, 7, 79.2, "Step 3 of 7 \u00b7 about 1 min 20 s left"},
        {2, 7, 123.0, "Step 2 of 7 \u00b7 about 2 min 3 s left"},
        {6, 7, 120.0, "Step 6 of 7 \u00b7 about 2 min left"},
        {7, 7, 0.4, "Step 7 of 7 \u00b7 about 1 s left"},
        {7, 7, 0.0, "Step 7 of 7 \u00b7 almost done"},
        {7, 7, -2.0, "Step 7 of 7 \u00b7 almost done"},
    };
    for (const auto& c : cases) EXPECT_EQ(runProgressText(c.step, c.steps, c.seconds), c.text) << c.seconds;
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
