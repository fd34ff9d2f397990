#pragma once
// The little linear algebra the scenes need: column-major 4x4 matrices, element [c][r] at c * 4 + r.
#include <array>
#include <cmath>

struct Vec3 {
    float x = 0, y = 0, z = 0;
    bool operator==(const Vec3&) const = default;
};

struct Quat {
    float x = 0, y = 0, z = 0, w = 0;
};

struct Mat4 {
    std::array<float, 16> m{};
    float& at(int column, int row) { return m[column * 4 + row]; }
    float at(int column, int row) const { return m[column * 4 + row]; }
    const float* data() const { return m.data(); }
    static Mat4 identity();
};

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline Vec3 normalize(Vec3 v) {
    const float len = std::sqrt(dot(v, v));
    return {v.x / len, v.y / len, v.z / len};
}

Mat4 operator*(const Mat4& a, const Mat4& b);

// Right-handed perspective with clip depth -1..1.
Mat4 perspective(float fovY, float aspect, float nearPlane, float farPlane);
// Right-handed look-at.
Mat4 lookAt(Vec3 eye, Vec3 centre, Vec3 up);
Mat4 translation(Vec3 t);
Mat4 scaling(Vec3 s);
// The rotation matrix of q by the usual formula, without normalising q: the all-zero
// quaternion gives the identity.
Mat4 rotation(Quat q);
