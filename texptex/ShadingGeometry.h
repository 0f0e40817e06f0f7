// ShadingGeometry: the small planar solves of the shading evaluation: coordinates of a vector in
// the frame of two edge vectors, point-in-triangle and point-in-quad tests, the 3 x 3 inverse of
// the hit correction and the projection of a differential onto a face's plane. Positions and
// vectors are single precision; determinants and cross products are formed in double.
#pragma once

struct Vec3f {
    float x, y, z;

    float operator[](int i) const noexcept { return i == 0 ? x : (i == 1 ? y : z); }
};

inline Vec3f operator+(Vec3f a, Vec3f b) noexcept { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3f operator-(Vec3f a, Vec3f b) noexcept { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3f operator*(Vec3f a, float s) noexcept { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3f toVec3f(const float* p) noexcept { return {p[0], p[1], p[2]}; }

// Determinants at or below this magnitude count as degenerate.
constexpr double kPlanarEpsilon = 1e-6;

// Solves s1 * e1 + s2 * e2 = d in the first axis pair (x, y), (y, z), (z, x) whose determinant
// exceeds kPlanarEpsilon; the third coordinate is ignored (d is not checked to lie in the plane).
// False, with s1 = s2 = 0, when all three pairs are degenerate.
bool solveInPlane(Vec3f e1, Vec3f e2, Vec3f d, float& s1, float& s2) noexcept;

// q in triangle (p0; p1, p2), bounds inclusive; false for a degenerate triangle or NaN data.
bool inTriangle(Vec3f q, Vec3f p0, Vec3f p1, Vec3f p2) noexcept;

// q in the quad a0 a1 a2 a3, split along its diagonal a0-a2.
bool inQuad(Vec3f q, Vec3f a0, Vec3f a1, Vec3f a2, Vec3f a3) noexcept;

// In-place inverse of a row-major 3 x 3 matrix, computed in double and rounded to float. A
// singular matrix (determinant exactly 0) becomes all zeros.
void invert3(float m[9]) noexcept;

// v without its component along n: v - n (n . v) / (n . n). n is given in double (a cross product
// of float edges) and rounded to float; the projection is single precision.
Vec3f projectOntoPlane(Vec3f v, const double n[3]) noexcept;

// e1 x e2 in double precision.
void crossDouble(Vec3f e1, Vec3f e2, double n[3]) noexcept;

inline bool isFinite(Vec3f v) noexcept
{
    // x - x is NaN exactly when x is infinite or NaN; cheaper than three std::isfinite calls.
    return (v.x - v.x) == 0.0f && (v.y - v.y) == 0.0f && (v.z - v.z) == 0.0f;
}
