#pragma once
// For the harness programs that run the real shell under Xvfb and print what happened, one
// event a line, for their gtest drivers to read.
#include <initializer_list>
#include <string>
#include <vector>

struct ImGuiWindow;

// One line on stdout, flushed at once so the order survives a crash or a kill.
void harnessEvent(const std::string& text);

// Runs a program found on PATH and waits for it; prints "spawn-failed <program>" if it cannot start.
void runTool(std::vector<std::string> args);

// A real key press and release (xdotool key name: Return, KP_Enter, Escape).
void pressKey(const std::string& key);

// A real pointer click (xdotool) at a window position.
void clickAt(float x, float y);

struct ScreenPoint {
    float x = 0, y = 0;
    bool shown = false;
};

inline void clickAt(ScreenPoint p) { clickAt(p.x, p.y); }

// The named window if it was shown in the previous frame (positions are from that frame's layout).
ImGuiWindow* shownWindow(const char* name);

// Of the named windows, those emitted in the frame being built or presented, joined with commas.
std::string activeWindows(std::initializer_list<const char*> names);

// Centre of the n-th button (0 or 1) on the last row of a shown popup whose buttons read
// `first` and `second` (null when it has one); not shown while the popup is not.
ScreenPoint popupButtonCentre(const char* popup, const char* first, const char* second, int n);
