#include "ShadingGeometry.h"

#include <cmath>

bool solveInPlane(Vec3f e1, Vec3f e2, Vec3f d, float& s1, float& s2) noexcept
{
    PlanarSolver solver;
    if (!solver.init(e1, e2)) {
        s1 = s2 = 0.0f;
        return false;
    }
    solver.solve(solver.inPlane(d, 0.0f, e1, e2), s1, s2);
    return true;
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
