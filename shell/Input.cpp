#include "shell/Input.h"

#include <algorithm>
#include <utility>

#include "render/gl.h"

namespace {

constexpr int kFollowUpFramesAfterInput = 3;

// Set by the input callbacks, which the GUI backend calls before its own; read and cleared
// by the frame pacing. Main thread only.
bool inputSeen = false;

// The GUI keeps only whether a key is down when a frame begins, which loses a press and
// release that fall between two frames; the window's key events count every press.
FrameKeys pendingKeys;
FrameKeys currentKeys;

void onMouseButton(GLFWwindow*, int, int, int) { inputSeen = true; }
void onScroll(GLFWwindow*, double, double) { inputSeen = true; }
void onChar(GLFWwindow*, unsigned int) { inputSeen = true; }

void onKey(GLFWwindow*, int key, int, int action, int) {
    inputSeen = true;
    if (action != GLFW_PRESS) return;
    if (key == GLFW_KEY_ENTER || key == GLFW_KEY_KP_ENTER) pendingKeys.enter = true;
    if (key == GLFW_KEY_ESCAPE) pendingKeys.escape = true;
}

}  // namespace

const FrameKeys& frameKeys() { return currentKeys; }

void installInputCallbacks(GLFWwindow* window) {
    glfwSetMouseButtonCallback(window, onMouseButton);
    glfwSetScrollCallback(window, onScroll);
    glfwSetKeyCallback(window, onKey);
    glfwSetCharCallback(window, onChar);
}

void latchFrameKeys() { currentKeys = std::exchange(pendingKeys, FrameKeys{}); }

bool FollowUpFrames::next() {
    if (left == 0) return false;
    --left;
    return true;
}

void FollowUpFrames::wokenEarly() { left = std::max(left, 1); }

void FollowUpFrames::afterWait() {
    if (inputSeen) left = kFollowUpFramesAfterInput;
    inputSeen = false;
}
