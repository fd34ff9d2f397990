#pragma once

struct GLFWwindow;

// The keys that answer buttons, pressed since the previous frame began (auto-repeat not
// counted); the shell collects them from the window and hands them to the frame.
struct FrameKeys {
    bool enter = false;   // either Enter key
    bool escape = false;
};
const FrameKeys& frameKeys();
inline bool enterPressed() { return frameKeys().enter; }
inline bool escapePressed() { return frameKeys().escape; }

// Sets the window's key, character, mouse button and scroll callbacks. Call it before the
// GUI backend is set up: the backend keeps them and calls them from its own.
void installInputCallbacks(GLFWwindow* window);

// Called as a frame begins: the presses since the previous call become frameKeys().
void latchFrameKeys();

// After input the interface may need a few more frames to show its answer (a popup appears
// the frame after it opens and is sized on the next), so the shell draws those at the
// display's full rate rather than at the stage's own.
class FollowUpFrames {
public:
    // Whether the frame about to be waited for is one of them; counts it off.
    bool next();
    // Woken before the frame's deadline, by a stage that has something new to show: a window
    // that sizes itself to new text takes its size a frame later, so one more follows.
    void wokenEarly();
    // After each wait: input since the previous call asks for three more.
    void afterWait();

private:
    int left = 0;
};
