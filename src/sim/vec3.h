// Small 3-vector and quaternion arithmetic for the bike simulation (double precision,
// like the physics engine).
#pragma once
#include <cmath>

struct Vec3 {
    double x = 0, y = 0, z = 0;
};

inline Vec3 vec3(const float *v) {
    return {v[0], v[1], v[2]};
}
inline Vec3 vec3(const double *v) {
    return {v[0], v[1], v[2]};
}
inline Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator-(Vec3 a) {
    return {-a.x, -a.y, -a.z};
}
inline Vec3 operator*(Vec3 a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline Vec3 operator*(double s, Vec3 a) {
    return a * s;
}
inline Vec3 &operator+=(Vec3 &a, Vec3 b) {
    return a = a + b;
}
inline Vec3 &operator-=(Vec3 &a, Vec3 b) {
    return a = a - b;
}
inline double dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(Vec3 a) {
    return std::sqrt(dot(a, a));
}
// a / |a|, or the zero vector when a is (nearly) zero.
inline Vec3 normalised(Vec3 a) {
    double l = length(a);
    return l > 1e-300 ? a * (1.0 / l) : Vec3{};
}
inline bool finite(Vec3 a) {
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}

// Quaternion (w, x, y, z), the physics engine's order.
struct Quat {
    double w = 1, x = 0, y = 0, z = 0;
};

inline Quat quat(const double *q) {
    return {q[0], q[1], q[2], q[3]};
}
inline Quat operator*(Quat a, Quat b) {
    return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z,
            a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
            a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}
inline Quat conjugate(Quat q) {
    return {q.w, -q.x, -q.y, -q.z};
}
inline double qdot(Quat a, Quat b) {
    return a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
}
// q / |q|, or the identity when q is (nearly) zero or not finite.
inline Quat qnormalised(Quat q) {
    double l = std::sqrt(qdot(q, q));
    if (!(l > 1e-12) || !std::isfinite(l)) return Quat{};
    return {q.w / l, q.x / l, q.y / l, q.z / l};
}
// Rotation by angle about a unit axis.
inline Quat quat_axis_angle(Vec3 axis, double angle) {
    double s = std::sin(angle * 0.5);
    return {std::cos(angle * 0.5), axis.x * s, axis.y * s, axis.z * s};
}
// v rotated by the unit quaternion q.
inline Vec3 rotate(Quat q, Vec3 v) {
    Vec3 u{q.x, q.y, q.z};
    Vec3 t = 2.0 * cross(u, v);
    return v + q.w * t + cross(u, t);
}
// The rotation vector (axis * angle, angle in 0..pi) of the unit quaternion q.
inline Vec3 rotation_vector(Quat q) {
    if (q.w < 0) q = {-q.w, -q.x, -q.y, -q.z};
    Vec3 u{q.x, q.y, q.z};
    double s = length(u);
    if (s < 1e-12) return u * 2.0;
    double angle = 2.0 * std::atan2(s, q.w);
    return u * (angle / s);
}
