#include "ShadingGeometry.h"

#include <cmath>

bool inTriangle(Vec3f q, Vec3f p0, Vec3f p1, Vec3f p2) noexcept
{
    float s1, s2;
    if (!solveInPlane(p1 - p0, p2 - p0, q - p0, s1, s2)) return false;
    return s1 >= 0.0f && s2 >= 0.0f && s1 + s2 <= 1.0f;
}

bool inQuad(Vec3f q, Vec3f a0, Vec3f a1, Vec3f a2, Vec3f a3) noexcept
{
    return inTriangle(q, a0, a1, a2) || inTriangle(q, a2, a3, a0);
}

void invert3(float m[9]) noexcept
{
    double a[9];
    for (int i = 0; i < 9; ++i) a[i] = m[i];
    // Cofactors of the first row, then the determinant by expansion along it.
    const double c00 = a[4] * a[8] - a[5] * a[7];
    const double c01 = a[5] * a[6] - a[3] * a[8];
    const double c02 = a[3] * a[7] - a[4] * a[6];
    const double det = a[0] * c00 + a[1] * c01 + a[2] * c02;
    if (det == 0.0) {
        for (int i = 0; i < 9; ++i) m[i] = 0.0f;
        return;
    }
    // The inverse is the adjugate (transposed cofactor matrix) divided by det.
    const double inv[9] = {
        c00, a[2] * a[7] - a[1] * a[8], a[1] * a[5] - a[2] * a[4],
        c01, a[0] * a[8] - a[2] * a[6], a[2] * a[3] - a[0] * a[5],
        c02, a[1] * a[6] - a[0] * a[7], a[0] * a[4] - a[1] * a[3],
    };
    for (int i = 0; i < 9; ++i) m[i] = static_cast<float>(inv[i] / det);
}
