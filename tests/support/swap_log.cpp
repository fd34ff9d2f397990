#include "tests/support/swap_log.h"

#include <dlfcn.h>

#include "render/gl.h"
#include "tests/support/harness.h"

std::function<std::string()> presentSuffix;
std::function<void(GLFWwindow*)> afterPresent;

extern "C" void glfwSwapInterval(int interval) {
    harnessEvent("interval " + std::to_string(interval));
    using Fn = void (*)(int);
    reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "glfwSwapInterval"))(interval);
}

extern "C" void glfwSwapBuffers(GLFWwindow* window) {
    harnessEvent(presentSuffix ? "present " + presentSuffix() : std::string("present"));
    using Fn = void (*)(GLFWwindow*);
    reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "glfwSwapBuffers"))(window);
    if (afterPresent) afterPresent(window);
}
