#include "ShadingGeometry.h"

#include <algorithm>
#include <cmath>

bool solveInPlane(Vec3f e1, Vec3f e2, Vec3f d, float& s1, float& s2) noexcept
{
    PlanarSolver solver;
    if (!solver.init(e1, e2)) {
        s1 = s2 = 0.0f;
        return false;
    }
    solver.solve(solver.inPlane(d), s1, s2);
    return true;
}

namespace {

// Positions are rounded to float on their way from the host (hit rebuild, transform): a few
// units in the last place, well below 2^-20 of their magnitude.
constexpr double kRoundingDistance = 1.0 / (1 << 20);

double squaredLength(Vec3f v) noexcept { return double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z; }

}  // namespace

bool inTriangle(Vec3f q, Vec3f p0, Vec3f p1, Vec3f p2) noexcept
{
    PlanarSolver solver;
    if (!solver.init(p1 - p0, p2 - p0)) return false;
    // Both positions' magnitudes, so that the tolerance does not depend on the orientation.
    const double scaleSquared = std::max(squaredLength(q), squaredLength(p0));
    float s1, s2;
    solver.solve(solver.inPlane(q - p0, kRoundingDistance * kRoundingDistance * scaleSquared), s1, s2);
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
