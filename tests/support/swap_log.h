#pragma once
// Linked into a harness, this records on their way to GLFW the swap interval the shell asks
// for ("interval N") and each presented frame ("present", or "present <suffix>").
#include <functional>
#include <string>

struct GLFWwindow;

// When set, each present line reads "present " followed by what it returns.
extern std::function<std::string()> presentSuffix;
// When set, called after each frame has gone to GLFW.
extern std::function<void(GLFWwindow*)> afterPresent;
