#include "Transform.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tarsk::host {

Transform::Transform() : m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1} {}

Transform::Transform(const std::array<double, 16>& rowMajor) : m(rowMajor) {}

Vec3 Transform::point(const Vec3& p) const
{
    Vec3 r{m[0] * p.x + m[1] * p.y + m[2] * p.z + m[3], m[4] * p.x + m[5] * p.y + m[6] * p.z + m[7],
           m[8] * p.x + m[9] * p.y + m[10] * p.z + m[11]};
    double w = m[12] * p.x + m[13] * p.y + m[14] * p.z + m[15];
    return (w != 1.0 && w != 0.0) ? r / w : r;
}

Vec3 Transform::vector(const Vec3& v) const
{
    return {m[0] * v.x + m[1] * v.y + m[2] * v.z, m[4] * v.x + m[5] * v.y + m[6] * v.z,
            m[8] * v.x + m[9] * v.y + m[10] * v.z};
}

std::optional<Transform> Transform::inverse() const
{
    // Gauss-Jordan elimination with partial pivoting on [M | I].
    double a[4][8];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 8; ++c) a[r][c] = c < 4 ? m[r * 4 + c] : (c - 4 == r ? 1.0 : 0.0);
    double scaleRef = 0;
    for (double v : m) {
        if (!std::isfinite(v)) return std::nullopt;
        scaleRef = std::max(scaleRef, std::fabs(v));
    }
    for (int col = 0; col < 4; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 4; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
        if (std::fabs(a[pivot][col]) <= 1e-12 * scaleRef) return std::nullopt;
        if (pivot != col)
            for (int c = 0; c < 8; ++c) std::swap(a[pivot][c], a[col][c]);
        double inv = 1.0 / a[col][col];
        for (int c = 0; c < 8; ++c) a[col][c] *= inv;
        for (int r = 0; r < 4; ++r) {
            if (r == col) continue;
            double f = a[r][col];
            for (int c = 0; c < 8; ++c) a[r][c] -= f * a[col][c];
        }
    }
    std::array<double, 16> out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out[r * 4 + c] = a[r][c + 4];
    return Transform(out);
}

bool Transform::isIdentity() const { return m == Transform().m; }

Transform Transform::translate(const Vec3& t)
{
    return Transform({1, 0, 0, t.x, 0, 1, 0, t.y, 0, 0, 1, t.z, 0, 0, 0, 1});
}

Transform Transform::scale(double s) { return Transform({s, 0, 0, 0, 0, s, 0, 0, 0, 0, s, 0, 0, 0, 0, 1}); }

Transform Transform::rotateY(double degrees)
{
    double r = degrees * M_PI / 180.0, c = std::cos(r), s = std::sin(r);
    return Transform({c, 0, s, 0, 0, 1, 0, 0, -s, 0, c, 0, 0, 0, 0, 1});
}

Transform Transform::operator*(const Transform& rhs) const
{
    std::array<double, 16> out{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            for (int k = 0; k < 4; ++k) out[r * 4 + c] += m[r * 4 + k] * rhs.m[k * 4 + c];
    return Transform(out);
}

}  // namespace tarsk::host
