#pragma once
// One place that includes the generated loader before GLFW, so GLFW never pulls in system GL headers.
#include <glad/gl.h>
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
