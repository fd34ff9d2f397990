// Linked into a harness, this lets a test force the window's content scale: with
// TALLYFORGE_TEST_CONTENT_SCALE set (e.g. 1.5), GLFW's answer is replaced by that value, so a
// high-DPI screen can be shown under Xvfb, whose screens all report 1.
#include <dlfcn.h>

#include <cstdlib>

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

extern "C" void glfwGetWindowContentScale(GLFWwindow* window, float* xscale, float* yscale) {
    if (const char* forced = std::getenv("TALLYFORGE_TEST_CONTENT_SCALE")) {
        const float scale = std::strtof(forced, nullptr);
        if (scale > 0) {
            if (xscale) *xscale = scale;
            if (yscale) *yscale = scale;
            return;
        }
    }
    using Fn = void (*)(GLFWwindow*, float*, float*);
    reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "glfwGetWindowContentScale"))(window, xscale, yscale);
}
