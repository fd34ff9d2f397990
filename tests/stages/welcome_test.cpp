// The welcome screen in the real window under Xvfb, clicked with real pointer events or
// driven by real key presses, on a machine without a battery and on one whose battery is
// discharging; and the first screens of the run at three content scales.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/command.h"
#include "tests/support/display.h"

namespace fs = std::filesystem;

namespace {

CommandRun runHarness(const std::string& scenario, const fs::path& root, const std::string& prefix = "") {
    return runCommand(prefix + "'" + WELCOME_HARNESS + "' " + scenario + " '" + root.string() + "' 2>&1");
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

// The same steps with the pointer and with the keyboard alone (Enter, Esc, keypad Enter, Enter).
class WelcomeOnBattery : public testing::TestWithParam<const char*> {};

TEST_P(WelcomeOnBattery, WarnsAndCancelReturnsAndContinueStarts) {
    TALLYFORGE_REQUIRE_DISPLAY();
    const CommandRun o = runHarness(GetParam(), makeRoot(true));
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

INSTANTIATE_TEST_SUITE_P(PointerAndKeys, WelcomeOnBattery, testing::Values("battery", "battery-keys"),
                         [](const auto& info) { return std::string(info.param) == "battery" ? "Pointer" : "Keys"; });

TEST(Welcome, KeysStartTheRunAndEscapeThenEnterQuitsWithoutResult) {
    TALLYFORGE_REQUIRE_DISPLAY();
    const CommandRun o = runHarness("keys", makeRoot(false));
    ASSERT_EQ(o.exitCode, 0) << o.output;
    // Enter started the CPU stage; Esc opened the popup, Esc closed it with the run going on,
    // Esc opened it again and Enter quit the CPU stage.
    std::vector<std::string> seen;
    std::copy_if(o.lines.begin(), o.lines.end(), std::back_inserter(seen), [](const std::string& l) {
        return l == "welcome-finished" || l == "cpu-started" || l.rfind("quit-", 0) == 0 || l == "cpu-aborted" ||
               l == "loop-ended" || l == "finish" || l == "timeout";
    });
    ASSERT_GE(seen.size(), 8u) << o.output;
    const std::vector<std::string> head(seen.begin(), seen.begin() + 6);
    EXPECT_EQ(head, (std::vector<std::string>{"welcome-finished", "cpu-started", "quit-open", "quit-closed",
                                              "quit-open", "cpu-aborted"}))
        << o.output;
    // Nothing submitted; the pass that saw Enter (or the next, if the key came late) ended the loop.
    EXPECT_FALSE(has(o, "finish")) << o.output;
    EXPECT_FALSE(has(o, "timeout")) << o.output;
    const auto passes = std::find_if(seen.begin(), seen.end(),
                                     [](const std::string& l) { return l.rfind("quit-after-passes ", 0) == 0; });
    ASSERT_NE(passes, seen.end()) << o.output;
    EXPECT_LE(std::stoi(passes->substr(18)), 2) << o.output;
    EXPECT_EQ(seen.back(), "loop-ended") << o.output;
}

namespace {

// "layout <screen> <window> x y w h" lines, in units of the scale-1 layout.
std::map<std::string, std::vector<double>> layout(const CommandRun& o) {
    std::map<std::string, std::vector<double>> rects;
    for (const auto& l : o.lines) {
        if (l.rfind("layout ", 0) != 0) continue;
        std::istringstream in(l.substr(7));
        std::string screen, window, word;
        in >> screen;
        std::vector<std::string> words;
        while (in >> word) words.push_back(word);
        std::vector<double> numbers;
        while (!words.empty() && std::isdigit(static_cast<unsigned char>(words.back()[0])) != 0) {
            numbers.insert(numbers.begin(), std::stod(words.back()));
            words.pop_back();
        }
        for (const auto& w : words) window += (window.empty() ? "" : " ") + w;
        rects[screen + " " + window] = numbers;
    }
    return rects;
}

}  // namespace

// At content scales 1.5 and 2 (on screens 1.5 and 2 times as large) every window has the
// place and size of scale 1, measured in scaled pixels, give or take glyph rounding in text.
// The screenshots of the three scales are left for a person to compare.
TEST(Welcome, FirstScreensKeepTheirLayoutAtEveryContentScale) {
    TALLYFORGE_REQUIRE_DISPLAY();
    std::map<std::string, std::vector<double>> base;
    for (const char* scale : {"1.0", "1.5", "2.0"}) {
        const double s = std::stod(scale);
        const std::string screen = std::to_string(static_cast<int>(1280 * s)) + "x" + std::to_string(static_cast<int>(720 * s));
        const CommandRun o = runHarness("screens", makeRoot(false),
                                        std::string("TALLYFORGE_TEST_CONTENT_SCALE=") + scale +
                                            " xvfb-run -a -s '-screen 0 " + screen + "x24' ");
        ASSERT_EQ(o.exitCode, 0) << o.output;
        ASSERT_TRUE(has(o, "finish")) << o.output;
        const auto rects = layout(o);
        ASSERT_EQ(rects.size(), 10u) << o.output;
        for (const auto& [name, r] : rects) ASSERT_EQ(r.size(), 4u) << scale << " " << name << " missing\n" << o.output;
        if (base.empty()) {
            base = rects;
            continue;
        }
        for (const auto& [name, r] : rects) {
            const auto& b = base.at(name);
            // The CPU info window's width follows the thread count of the moment.
            for (std::size_t i = 0; i < (name == "cpu Info" ? 2u : 4u); ++i)
                EXPECT_NEAR(r[i], b[i], 2.0 + 0.02 * std::abs(b[i])) << "scale " << scale << ", " << name << ", figure " << i;
        }
    }
}
