#pragma once
// GUI tests need an X display. Without one they fail, so that a run which forgot
// xvfb-run cannot pass by skipping them; a caller that means to run without a display
// says so with TALLYFORGE_SKIP_GUI_TESTS=1, and they are skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

inline bool guiTestsSkipRequested() {
    const char* skip = std::getenv("TALLYFORGE_SKIP_GUI_TESTS");
    return skip && std::strcmp(skip, "1") == 0;
}

inline bool haveDisplay() {
    const char* display = std::getenv("DISPLAY");
    return display && *display;
}

// In a test body or SetUp: fail (or skip, when asked) if there is no display.
#define TALLYFORGE_REQUIRE_DISPLAY()                                                            \
    do {                                                                                        \
        if (!haveDisplay()) {                                                                   \
            if (guiTestsSkipRequested()) GTEST_SKIP() << "no X display; TALLYFORGE_SKIP_GUI_TESTS=1"; \
            FAIL() << "needs an X display: run under xvfb-run, or set TALLYFORGE_SKIP_GUI_TESTS=1 to skip"; \
        }                                                                                       \
    } while (0)
