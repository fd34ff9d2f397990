// The welcome screen in the real window under Xvfb, clicked with real pointer events, on a
// machine without a battery and on one whose battery is discharging.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/command.h"
#include "tests/support/display.h"

namespace fs = std::filesystem;

namespace {

CommandRun runHarness(const std::string& scenario, const fs::path& root) {
    return runCommand(std::string("'") + WELCOME_HARNESS + "' " + scenario + " '" + root.string() + "' 2>&1");
}

void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
}

// A laptop unplugged: its battery discharges and the mains adapter is offline.
fs::path makeRoot(bool battery) {
    fs::path root = fs::temp_directory_path() / ("tallyforge-welcome-" + std::to_string(::getpid()) +
                                                 (battery ? "-battery" : "-desktop"));
    fs::remove_all(root);
    fs::create_directories(root);
    if (battery) {
        write(root / "sys/class/power_supply/BAT0/type", "Battery");
        write(root / "sys/class/power_supply/BAT0/status", "Discharging");
        write(root / "sys/class/power_supply/AC/type", "Mains");
        write(root / "sys/class/power_supply/AC/online", "0");
    }
    return root;
}

bool has(const CommandRun& o, const std::string& line) {
    return std::find(o.lines.begin(), o.lines.end(), line) != o.lines.end();
}

}  // namespace

TEST(Welcome, StartBenchmarkWithoutBatteryStartsTheRunAtOnce) {
    TALLYFORGE_REQUIRE_DISPLAY();
    const CommandRun o = runHarness("plugged", makeRoot(false));
    ASSERT_EQ(o.exitCode, 0) << o.output;
    EXPECT_TRUE(has(o, "credits-open")) << o.output;
    EXPECT_TRUE(has(o, "credits-closed")) << o.output;
    // The click at pass 20 finishes the stage in the next pass that handles it, no popup between.
    EXPECT_FALSE(has(o, "warning-open"));
    EXPECT_FALSE(has(o, "timeout")) << o.output;
    EXPECT_TRUE(has(o, "next-started")) << o.output;
    EXPECT_TRUE(has(o, "finish")) << o.output;
}

TEST(Welcome, OnBatteryWarnsAndCancelReturnsAndContinueStarts) {
    TALLYFORGE_REQUIRE_DISPLAY();
    const CommandRun o = runHarness("battery", makeRoot(true));
    ASSERT_EQ(o.exitCode, 0) << o.output;
    const std::vector<std::string> expected = {"warning-open", "warning-closed", "warning-open",
                                               "welcome-finished", "next-started", "finish"};
    std::vector<std::string> seen;
    std::copy_if(o.lines.begin(), o.lines.end(), std::back_inserter(seen), [](const std::string& l) {
        return l.rfind("warning", 0) == 0 || l.rfind("welcome-finished", 0) == 0 || l == "next-started" ||
               l == "finish" || l == "timeout";
    });
    EXPECT_EQ(seen, expected) << o.output;
}
