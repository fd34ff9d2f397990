#include "render/math.h"

Mat4 Mat4::identity() {
    Mat4 r;
    for (int i = 0; i < 4; ++i) r.at(i, i) = 1.0f;
    return r;
}

Mat4 operator*(const Mat4& a, const Mat4& b) {
    Mat4 r;
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) {
            float s = 0;
            for (int k = 0; k < 4; ++k) s += a.at(k, row) * b.at(c, k);
            r.at(c, row) = s;
        }
    return r;
}

Mat4 perspective(float fovY, float aspect, float nearPlane, float farPlane) {
    const float t = std::tan(fovY / 2.0f);
    Mat4 r;
    r.at(0, 0) = 1.0f / (aspect * t);
    r.at(1, 1) = 1.0f / t;
    r.at(2, 2) = -(farPlane + nearPlane) / (farPlane - nearPlane);
    r.at(2, 3) = -1.0f;
    r.at(3, 2) = -(2.0f * farPlane * nearPlane) / (farPlane - nearPlane);
    return r;
}

Mat4 lookAt(Vec3 eye, Vec3 centre, Vec3 up) {
    const Vec3 f = normalize(centre - eye);
    const Vec3 s = normalize(cross(f, up));
    const Vec3 u = cross(s, f);
    Mat4 r = Mat4::identity();
    r.at(0, 0) = s.x; r.at(1, 0) = s.y; r.at(2, 0) = s.z;
    r.at(0, 1) = u.x; r.at(1, 1) = u.y; r.at(2, 1) = u.z;
    r.at(0, 2) = -f.x; r.at(1, 2) = -f.y; r.at(2, 2) = -f.z;
    r.at(3, 0) = -dot(s, eye);
    r.at(3, 1) = -dot(u, eye);
    r.at(3, 2) = dot(f, eye);
    return r;
}

Mat4 translation(Vec3 t) {
    Mat4 r = Mat4::identity();
    r.at(3, 0) = t.x; r.at(3, 1) = t.y; r.at(3, 2) = t.z;
    return r;
}

Mat4 scaling(Vec3 s) {
    Mat4 r = Mat4::identity();
    r.at(0, 0) = s.x; r.at(1, 1) = s.y; r.at(2, 2) = s.z;
    return r;
}

Mat4 rotation(Quat q) {
    const float xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
    const float xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
    const float wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
    Mat4 r = Mat4::identity();
    r.at(0, 0) = 1 - 2 * (yy + zz); r.at(0, 1) = 2 * (xy + wz);     r.at(0, 2) = 2 * (xz - wy);
    r.at(1, 0) = 2 * (xy - wz);     r.at(1, 1) = 1 - 2 * (xx + zz); r.at(1, 2) = 2 * (yz + wx);
    r.at(2, 0) = 2 * (xz + wy);     r.at(2, 1) = 2 * (yz - wx);     r.at(2, 2) = 1 - 2 * (xx + yy);
    return r;
}
