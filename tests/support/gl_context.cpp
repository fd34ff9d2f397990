#include "gl_context.h"

#include <cstdlib>

GLFWwindow* createHiddenGlContext(int width, int height, const char* title) {
    if (!std::getenv("DISPLAY") || !glfwInit()) return nullptr;
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
    GLFWwindow* window = glfwCreateWindow(width, height, title, nullptr, nullptr);
    if (!window) return nullptr;
    glfwMakeContextCurrent(window);
    if (gladLoadGL(glfwGetProcAddress) == 0) {
        glfwDestroyWindow(window);
        return nullptr;
    }
    return window;
}

void destroyHiddenGlContext(GLFWwindow*& window) {
    if (window) glfwDestroyWindow(window);
    window = nullptr;
    glfwTerminate();
}
