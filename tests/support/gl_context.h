#pragma once
// A hidden window with an OpenGL 3.3 core context, current and loaded, for tests that draw
// through the real GL (Mesa under Xvfb).
#include "render/gl.h"

// Null without a display, without GL 3.3, or when the loader fails; GLFW stays initialised
// either way, so pair every call with destroyHiddenGlContext.
GLFWwindow* createHiddenGlContext(int width, int height, const char* title);
// Destroys the window if there is one, clears the pointer and ends GLFW.
void destroyHiddenGlContext(GLFWwindow*& window);
