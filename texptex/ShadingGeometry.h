// ShadingGeometry: the small planar solves of the shading evaluation: coordinates of a vector in
// the frame of two edge vectors, point-in-triangle and point-in-quad tests, the 3 x 3 inverse of
// the hit correction and the projection of a differential onto a face's plane. Positions and
// vectors are single precision; determinants and cross products are formed in double.
#pragma once

#include <cmath>

struct Vec3f {
    float x, y, z;
};

inline Vec3f operator+(Vec3f a, Vec3f b) noexcept { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3f operator-(Vec3f a, Vec3f b) noexcept { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3f operator*(Vec3f a, float s) noexcept { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3f toVec3f(const float* p) noexcept { return {p[0], p[1], p[2]}; }

// Determinants at or below this magnitude count as degenerate.
constexpr double kPlanarEpsilon = 1e-6;

// One axis pair (i, j) of solveInPlane; false when its determinant is degenerate (or NaN).
inline bool solveInAxisPair(float e1i, float e1j, float e2i, float e2j, float di, float dj, float& s1,
                            float& s2) noexcept
{
    const float det = e1i * e2j - e1j * e2i;
    if (!(std::fabs(static_cast<double>(det)) > kPlanarEpsilon)) return false;
    s1 = (e2j * di - e2i * dj) / det;
    s2 = (e1i * dj - e1j * di) / det;
    return true;
}

// Solves s1 * e1 + s2 * e2 = d in the first axis pair (x, y), (y, z), (z, x) whose determinant
// exceeds kPlanarEpsilon; the third coordinate is ignored (d is not checked to lie in the plane).
// False, with s1 = s2 = 0, when all three pairs are degenerate. Inline: it runs up to three
// times per shading point.
inline bool solveInPlane(Vec3f e1, Vec3f e2, Vec3f d, float& s1, float& s2) noexcept
{
    if (solveInAxisPair(e1.x, e1.y, e2.x, e2.y, d.x, d.y, s1, s2) ||
        solveInAxisPair(e1.y, e1.z, e2.y, e2.z, d.y, d.z, s1, s2) ||
        solveInAxisPair(e1.z, e1.x, e2.z, e2.x, d.z, d.x, s1, s2))
        return true;
    s1 = s2 = 0.0f;
    return false;
}

// solveInPlane for many vectors in the frame of the same two edges: the axis pair and its
// determinant are chosen once, and every solve gives exactly what solveInPlane gives.
class PlanarSolver {
public:
    // False, as solveInPlane, when all three axis pairs are degenerate.
    bool init(Vec3f e1, Vec3f e2) noexcept
    {
        return pick(0, e1.x, e1.y, e2.x, e2.y) || pick(1, e1.y, e1.z, e2.y, e2.z) || pick(2, e1.z, e1.x, e2.z, e2.x);
    }
    // For an initialised solver only. Always inlined: it runs three times per shading point.
    __attribute__((always_inline)) void solve(Vec3f d, float& s1, float& s2) const noexcept
    {
        const float di = pair == 0 ? d.x : pair == 1 ? d.y : d.z;
        const float dj = pair == 0 ? d.y : pair == 1 ? d.z : d.x;
        s1 = (e2j * di - e2i * dj) / det;
        s2 = (e1i * dj - e1j * di) / det;
    }

private:
    // Takes axis pair p when its determinant is not degenerate (nor NaN), as solveInAxisPair.
    bool pick(int p, float a1i, float a1j, float a2i, float a2j) noexcept
    {
        const float d = a1i * a2j - a1j * a2i;
        if (!(std::fabs(static_cast<double>(d)) > kPlanarEpsilon)) return false;
        pair = p;
        e1i = a1i, e1j = a1j, e2i = a2i, e2j = a2j;
        det = d;
        return true;
    }

    int pair = 0;  // 0: (x, y), 1: (y, z), 2: (z, x)
    float e1i = 0.0f, e1j = 0.0f, e2i = 0.0f, e2j = 0.0f, det = 1.0f;
};

// q in triangle (p0; p1, p2), bounds inclusive; false for a degenerate triangle or NaN data.
bool inTriangle(Vec3f q, Vec3f p0, Vec3f p1, Vec3f p2) noexcept;

// q in the quad a0 a1 a2 a3, split along its diagonal a0-a2.
bool inQuad(Vec3f q, Vec3f a0, Vec3f a1, Vec3f a2, Vec3f a3) noexcept;

// In-place inverse of a row-major 3 x 3 matrix, computed in double and rounded to float. A
// singular matrix (determinant exactly 0) becomes all zeros.
void invert3(float m[9]) noexcept;

// A plane's normal as the projection uses it: n rounded to float and n . n formed in double and
// rounded to float. Made once for all the vectors projected onto one plane.
struct PlaneNormal {
    Vec3f n;
    float nn;
};

inline PlaneNormal planeNormal(const double n[3]) noexcept
{
    return {{static_cast<float>(n[0]), static_cast<float>(n[1]), static_cast<float>(n[2])},
            static_cast<float>(n[0] * n[0] + n[1] * n[1] + n[2] * n[2])};
}

// v without its component along n: v - n (n . v) / (n . n), in single precision.
__attribute__((always_inline)) inline Vec3f projectOntoPlane(Vec3f v, const PlaneNormal& plane) noexcept
{
    if (!(plane.nn > 0.0f)) return v;  // no plane to project onto; the width solve then decides
    const Vec3f nf = plane.n;
    const float nv = nf.x * v.x + nf.y * v.y + nf.z * v.z;
    return v - nf * (nv / plane.nn);
}

// The same for n given in double (a cross product of float edges).
inline Vec3f projectOntoPlane(Vec3f v, const double n[3]) noexcept { return projectOntoPlane(v, planeNormal(n)); }

// e1 x e2 in double precision.
inline void crossDouble(Vec3f e1, Vec3f e2, double n[3]) noexcept
{
    n[0] = double(e1.y) * e2.z - double(e1.z) * e2.y;
    n[1] = double(e1.z) * e2.x - double(e1.x) * e2.z;
    n[2] = double(e1.x) * e2.y - double(e1.y) * e2.x;
}

inline bool isFinite(Vec3f v) noexcept
{
    // x - x is NaN exactly when x is infinite or NaN; cheaper than three std::isfinite calls.
    return (v.x - v.x) == 0.0f && (v.y - v.y) == 0.0f && (v.z - v.z) == 0.0f;
}
