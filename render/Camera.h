#pragma once
#include "render/math.h"

struct Camera {
    float fov = 0.7853982f;  // 45 degrees, vertical
    float aspect = 1.0f;
    float nearPlane = 0.1f;
    float farPlane = 100.0f;
    float yaw = -90.0f;
    float pitch = 0.0f;
    Vec3 up{0, 1, 0};
    Vec3 front{0, 0, -1};
    Vec3 position{0, 0, 3};
    Mat4 view;

    void updateView() { view = lookAt(position, position + front, up); }
};
