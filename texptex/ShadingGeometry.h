// ShadingGeometry: the small planar solves of the shading evaluation: coordinates of a vector in
// the frame of two edge vectors, the linear map that gives them for any vector, point-in-triangle
// and point-in-quad tests, and the 3 x 3 inverse of the hit correction. Positions and vectors are
// single precision; normals and the linear map are formed in double.
//
// Face coordinates do not depend on which way a face points. A vector is first projected onto
// the frame's plane along the frame's normal, so the part of it that leaves the plane (a hit on a
// render triangle of a non-planar face, or rounding) moves nothing; the in-plane vector is then
// solved in the axis pair whose determinant is largest in magnitude (a tie keeps the earlier of
// (x, y), (y, z), (z, x)), the best conditioned choice of two coordinates. Taking the first pair
// with a usable determinant instead would solve a face standing nearly edge-on to the xy plane
// through a tiny determinant, and rotating an object would shear its texture.
#pragma once

#include <cmath>

struct Vec3f {
    float x, y, z;
};

inline Vec3f operator+(Vec3f a, Vec3f b) noexcept { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3f operator-(Vec3f a, Vec3f b) noexcept { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3f operator*(Vec3f a, float s) noexcept { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3f toVec3f(const float* p) noexcept { return {p[0], p[1], p[2]}; }
inline float dot(Vec3f a, Vec3f b) noexcept { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Determinants at or below this magnitude count as degenerate.
constexpr double kPlanarEpsilon = 1e-6;

// The frame of two edge vectors e1, e2, prepared for solving s1 * e1 + s2 * e2 = d.
class PlanarSolver {
public:
    // Chooses the axis pair; false when every pair is degenerate (|det| at most kPlanarEpsilon,
    // or not finite): the frame has no area in any projection, and the solver is not usable.
    bool init(Vec3f e1, Vec3f e2) noexcept;
    bool usable() const noexcept { return pair >= 0; }

    // (s1, s2) of d in the chosen pair, for a vector d in the frame's plane; the third
    // coordinate is ignored. A vertex of the frame solves exactly: d = e2 gives (0, 1).
    void solve(Vec3f d, float& s1, float& s2) const noexcept
    {
        const float di = pair == 0 ? d.x : pair == 1 ? d.y : d.z;
        const float dj = pair == 0 ? d.y : pair == 1 ? d.z : d.x;
        s1 = (e2j * di - e2i * dj) / det;
        s2 = (e1i * dj - e1j * di) / det;
    }

    // d projected onto the frame's plane along its normal, in double and rounded to float. A d
    // whose distance from the plane is at most sqrt(toleranceSquared) comes back as it was: a
    // point that lies in the plane but for the rounding of its position keeps the exact bounds
    // of solve (a point on an edge of constant coordinate, a vertex). e1, e2 are the edges the
    // solver was made from (it keeps only what the solve needs, so that prepared solvers stay
    // small).
    Vec3f inPlane(Vec3f d, float toleranceSquared, Vec3f e1, Vec3f e2) const noexcept;

    // The linear map d -> solve(inPlane(d, 0, e1, e2)) as two rows, formed in double and rounded
    // once: s1 = dot(s1Row, d), s2 = dot(s2Row, d) for every d at a few float roundings.
    void linearMap(Vec3f e1, Vec3f e2, Vec3f& s1Row, Vec3f& s2Row) const noexcept;

    // The chosen pair: 0 (x, y), 1 (y, z), 2 (z, x).
    int axisPair() const noexcept { return pair; }

private:
    // e1 x e2 in double: its products are exact, so each component is rounded once.
    static void exactNormal(Vec3f e1, Vec3f e2, double n[3]) noexcept
    {
        n[0] = double(e1.y) * e2.z - double(e1.z) * e2.y;
        n[1] = double(e1.z) * e2.x - double(e1.x) * e2.z;
        n[2] = double(e1.x) * e2.y - double(e1.y) * e2.x;
    }

    int pair = -1;  // -1 until a successful init
    float e1i = 0.0f, e1j = 0.0f, e2i = 0.0f, e2j = 0.0f, det = 1.0f;
    Vec3f pairNormal{0.0f, 0.0f, 1.0f};  // the three pair determinants as a normal (float)
};

// Inline: frame start makes one solver per render triangle, n-gon hits one per sub-face test.
// |det| as the pair choice compares it: NaN and infinite determinants rank below every other.
inline float planarRank(float det) noexcept
{
    const float magnitude = std::fabs(det);
    return magnitude <= 3.40282347e38f ? magnitude : -1.0f;
}

inline bool PlanarSolver::init(Vec3f e1, Vec3f e2) noexcept
{
    // The determinant of pair (i, j) is component k of e1 x e2 (k the axis left out). Each is
    // formed in single precision as the solve forms its numerators, so that a vertex of the frame
    // solves to exactly 0 and 1.
    const float det01 = e1.x * e2.y - e1.y * e2.x, det12 = e1.y * e2.z - e1.z * e2.y, det20 = e1.z * e2.x - e1.x * e2.z;
    // A later pair must be strictly larger to win, so ties keep the earlier one.
    int chosen = 0;
    float best = planarRank(det01);
    if (planarRank(det12) > best) chosen = 1, best = planarRank(det12);
    if (planarRank(det20) > best) chosen = 2, best = planarRank(det20);
    if (!(static_cast<double>(best) > kPlanarEpsilon)) {
        pair = -1;
        return false;
    }
    pair = chosen;
    switch (chosen) {
    case 0: e1i = e1.x, e1j = e1.y, e2i = e2.x, e2j = e2.y, det = det01; break;
    case 1: e1i = e1.y, e1j = e1.z, e2i = e2.y, e2j = e2.z, det = det12; break;
    default: e1i = e1.z, e1j = e1.x, e2i = e2.z, e2j = e2.x, det = det20; break;
    }
    pairNormal = {det12, det20, det01};
    return true;
}

inline Vec3f PlanarSolver::inPlane(Vec3f d, float toleranceSquared, Vec3f e1, Vec3f e2) const noexcept
{
    // Whether d leaves the plane is decided in single precision with the pair determinants as
    // the normal, without a division: (n . d)^2 / (n . n) is the squared distance. (Beyond 1e19
    // the squares overflow and d counts as in the plane.)
    const float roughPart = dot(pairNormal, d);
    if (roughPart * roughPart <= toleranceSquared * dot(pairNormal, pairNormal)) return d;
    double n[3];
    exactNormal(e1, e2, n);
    // n . n >= det^2 > 1e-12: the quotient is finite.
    const double along = (n[0] * d.x + n[1] * d.y + n[2] * d.z) / (n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    return {static_cast<float>(d.x - n[0] * along), static_cast<float>(d.y - n[1] * along),
            static_cast<float>(d.z - n[2] * along)};
}

inline void PlanarSolver::linearMap(Vec3f e1, Vec3f e2, Vec3f& s1Row, Vec3f& s2Row) const noexcept
{
    // With P = I - n n^T / (n . n) the projection, solve(P d) takes rows i and j of P d:
    // s1 = (e2j (P d)_i - e2i (P d)_j) / det, so its row is (e2j u_i - e2i u_j - c1 n) / det with
    // u_k the unit vectors and c1 = (e2j n_i - e2i n_j) / (n . n); s2 likewise. The pair's
    // determinant is the double normal's component: the same number, rounded once.
    double normal[3];
    exactNormal(e1, e2, normal);
    const double inverseNormalSquared = 1.0 / (normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    const int i = pair, j = pair == 2 ? 0 : pair + 1;
    const double inverseDet = 1.0 / normal[pair == 0 ? 2 : pair - 1];
    const double c1 = (double(e2j) * normal[i] - double(e2i) * normal[j]) * inverseNormalSquared;
    const double c2 = (double(e1i) * normal[j] - double(e1j) * normal[i]) * inverseNormalSquared;
    double row1[3], row2[3];
    for (int k = 0; k < 3; ++k) {
        row1[k] = -c1 * normal[k];
        row2[k] = -c2 * normal[k];
    }
    row1[i] += e2j, row1[j] -= e2i;
    row2[j] += e1i, row2[i] -= e1j;
    s1Row = {static_cast<float>(row1[0] * inverseDet), static_cast<float>(row1[1] * inverseDet),
             static_cast<float>(row1[2] * inverseDet)};
    s2Row = {static_cast<float>(row2[0] * inverseDet), static_cast<float>(row2[1] * inverseDet),
             static_cast<float>(row2[2] * inverseDet)};
}

// solve(inPlane(d)) in the frame (e1, e2). False, with s1 = s2 = 0, for a frame degenerate in
// every pair.
bool solveInPlane(Vec3f e1, Vec3f e2, Vec3f d, float& s1, float& s2) noexcept;

// Positions are rounded to float on their way from the host (hit rebuild, transform): a few
// units in the last place, well below 2^-20 of their largest coordinate.
constexpr float kRoundingDistance = 1.0f / (1 << 20);

// q in triangle (p0; p1, p2), bounds inclusive, after projecting q onto the triangle's plane
// where it lies off it by more than the rounding of the positions; false for a degenerate
// triangle or NaN data. `solver` is the triangle's, made with init(p1 - p0, p2 - p0). Inline: an
// n-gon's sub-face search makes up to 2d + 1 of them.
inline bool inTriangle(const PlanarSolver& solver, Vec3f q, Vec3f p0, Vec3f p1, Vec3f p2) noexcept
{
    if (!solver.usable()) return false;
    // The largest coordinate of the two positions (a NaN among them only makes the tolerance
    // smaller; the solve then rejects the point).
    auto larger = [](float a, float b) { return a > b ? a : b; };
    const float scale = larger(larger(larger(std::fabs(q.x), std::fabs(q.y)), std::fabs(q.z)),
                               larger(larger(std::fabs(p0.x), std::fabs(p0.y)), std::fabs(p0.z)));
    const float tolerance = kRoundingDistance * scale;
    float s1, s2;
    solver.solve(solver.inPlane(q - p0, tolerance * tolerance, p1 - p0, p2 - p0), s1, s2);
    return s1 >= 0.0f && s2 >= 0.0f && s1 + s2 <= 1.0f;
}

inline bool inTriangle(Vec3f q, Vec3f p0, Vec3f p1, Vec3f p2) noexcept
{
    PlanarSolver solver;
    solver.init(p1 - p0, p2 - p0);
    return inTriangle(solver, q, p0, p1, p2);
}

// q in the quad a0 a1 a2 a3, split along its diagonal a0-a2.
inline bool inQuad(Vec3f q, Vec3f a0, Vec3f a1, Vec3f a2, Vec3f a3) noexcept
{
    return inTriangle(q, a0, a1, a2) || inTriangle(q, a2, a3, a0);
}

// In-place inverse of a row-major 3 x 3 matrix, computed in double and rounded to float. A
// singular matrix (determinant exactly 0) becomes all zeros.
void invert3(float m[9]) noexcept;

inline bool isFinite(Vec3f v) noexcept
{
    // x - x is NaN exactly when x is infinite or NaN, and a NaN survives the sum: one test for
    // the three components.
    return ((v.x - v.x) + (v.y - v.y) + (v.z - v.z)) == 0.0f;
}
