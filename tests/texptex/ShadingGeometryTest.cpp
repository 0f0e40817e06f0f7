#include "FaceLocation.h"
#include "Rotation.h"
#include "ShadingGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

using texptex_test::Rotation;

Vec3f cross(Vec3f a, Vec3f b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

}  // namespace

TEST(ShadingGeometry, AxisPairIsTheOneWithTheLargestDeterminant)
{
    PlanarSolver solver;
    float s1, s2;
    // A frame in the plane x = 2: only (y, z) has area.
    ASSERT_TRUE(solver.init({0, 1, 0}, {0, 0, 1}));
    EXPECT_EQ(solver.axisPair(), 1);
    ASSERT_TRUE(solveInPlane({0, 1, 0}, {0, 0, 1}, {0, 0.25f, 0.75f}, s1, s2));
    EXPECT_EQ(s1, 0.25f);
    EXPECT_EQ(s2, 0.75f);
    // The plane y = 0: only (z, x).
    ASSERT_TRUE(solver.init({1, 0, 0}, {0, 0, 1}));
    EXPECT_EQ(solver.axisPair(), 2);
    // Nearly edge-on to the xy plane: (x, y) has a usable but tiny determinant (1e-3), (y, z) the
    // large one; the solve goes through (y, z).
    ASSERT_TRUE(solver.init({1, 0, 0}, {0, 1e-3f, 1}));
    EXPECT_EQ(solver.axisPair(), 2) << "the normal (0, -1, 1e-3) is largest along y: pair (z, x)";
    ASSERT_TRUE(solver.init({0, 1, 0}, {1e-3f, 0, 1}));
    EXPECT_EQ(solver.axisPair(), 1);
    // Ties keep the earlier pair: the normal (1, 1, 1) has equal components.
    ASSERT_TRUE(solver.init({1, -1, 0}, {0, 1, -1}));
    EXPECT_EQ(solver.axisPair(), 0);
    ASSERT_TRUE(solver.init({0, 1, -1}, {-1, 0, 1}));
    EXPECT_EQ(solver.axisPair(), 0);
    // A tie of the last two: (y, z) before (z, x).
    ASSERT_TRUE(solver.init({0, 0, 1}, {1, -1, 0}));
    EXPECT_EQ(solver.axisPair(), 1);
    // NaN and infinite determinants never win; an overflowing pair leaves the finite one.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    ASSERT_TRUE(solver.init({nan, 0, 1}, {0, 1, 0}));
    EXPECT_EQ(solver.axisPair(), 1);
    ASSERT_TRUE(solver.init({2e38f, 0, 1}, {0, 2e38f, 0}));
    EXPECT_EQ(solver.axisPair(), 1) << "(x, y) overflows to infinity";
    // Degenerate in all three pairs: no coordinates, and finite zeros.
    EXPECT_FALSE(solveInPlane({1, 1, 1}, {2, 2, 2}, {1, 0, 0}, s1, s2));
    EXPECT_EQ(s1, 0.0f);
    EXPECT_EQ(s2, 0.0f);
    EXPECT_FALSE(solver.init({1e-4f, 0, 0}, {0, 1e-3f, 0})) << "area 1e-7 is below the threshold";
}

// The coordinates of a vector in a frame do not depend on the frame's orientation, nor on the
// part of the vector that leaves the frame's plane. Under the first-usable-pair rule a frame
// nearly edge-on to the xy plane amplified that part by the inverse of a tiny determinant.
TEST(ShadingGeometry, SolvesAreRotationInvariantAndIgnoreTheNormalComponent)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> coord(-2.0f, 2.0f);
    std::uniform_real_distribution<double> angle(0.0, 6.283185307179586);
    int tested = 0;
    for (int i = 0; i < 4000; ++i) {
        const Vec3f e1{coord(rng), coord(rng), coord(rng)}, e2{coord(rng), coord(rng), coord(rng)};
        const Vec3f n = cross(e1, e2);
        const float area = std::sqrt(dot(n, n));
        const float len1 = std::sqrt(dot(e1, e1)), len2 = std::sqrt(dot(e2, e2));
        // Frames within a few degrees of collinear are ill-conditioned in any method.
        if (area < 0.1f * len1 * len2) continue;
        ++tested;
        const float a = coord(rng), b = coord(rng), lift = 0.2f * coord(rng);
        const Vec3f d = e1 * a + e2 * b + n * (lift / area);
        const Rotation r(coord(rng), coord(rng), coord(rng), angle(rng));
        float s1, s2, t1, t2;
        ASSERT_TRUE(solveInPlane(e1, e2, d, s1, s2));
        ASSERT_TRUE(solveInPlane(r(e1), r(e2), r(d), t1, t2));
        // A few float roundings of the data, amplified at most by the frame's condition.
        const float tolerance = 2e-5f * (1 + std::fabs(a) + std::fabs(b) + 2.0f) * len1 * len2 / area;
        EXPECT_NEAR(s1, a, tolerance) << i;
        EXPECT_NEAR(s2, b, tolerance) << i;
        EXPECT_NEAR(t1, a, tolerance) << i;
        EXPECT_NEAR(t2, b, tolerance) << i;

        // The precomputed linear map gives the same coordinates.
        PlanarSolver solver;
        ASSERT_TRUE(solver.init(e1, e2));
        Vec3f row1, row2;
        solver.linearMap(e1, e2, row1, row2);
        EXPECT_NEAR(dot(row1, d), a, tolerance) << i;
        EXPECT_NEAR(dot(row2, d), b, tolerance) << i;
    }
    EXPECT_GT(tested, 2000);
}

TEST(ShadingGeometry, FrameVerticesSolveExactly)
{
    // The inclusive inside tests rely on a vertex giving exactly 0 and 1, in any orientation.
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> coord(-3.0f, 3.0f);
    for (int i = 0; i < 2000; ++i) {
        const Vec3f p0{coord(rng), coord(rng), coord(rng)}, p1{coord(rng), coord(rng), coord(rng)},
            p2{coord(rng), coord(rng), coord(rng)};
        float s1, s2;
        if (!solveInPlane(p1 - p0, p2 - p0, p2 - p0, s1, s2)) continue;
        EXPECT_EQ(s1, 0.0f) << i;
        EXPECT_EQ(s2, 1.0f) << i;
        EXPECT_TRUE(inTriangle(p2, p0, p1, p2)) << i;
        EXPECT_TRUE(inTriangle(p1, p0, p1, p2)) << i;
        EXPECT_TRUE(inTriangle(p0, p0, p1, p2)) << i;
    }
}

TEST(ShadingGeometry, InsideTestsAreInclusiveAndRejectNaN)
{
    const Vec3f p0{0, 0, 0}, p1{1, 0, 0}, p2{0, 1, 0};
    EXPECT_TRUE(inTriangle({0, 0, 0}, p0, p1, p2));
    EXPECT_TRUE(inTriangle({0.5f, 0.5f, 0}, p0, p1, p2)) << "the hypotenuse is inside";
    EXPECT_FALSE(inTriangle({0.6f, 0.5f, 0}, p0, p1, p2));
    EXPECT_FALSE(inTriangle({-1e-6f, 0.5f, 0}, p0, p1, p2));
    EXPECT_TRUE(inTriangle({0.25f, 0.25f, 5}, p0, p1, p2)) << "a point above the triangle projects into it";
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(inTriangle({nan, 0.1f, 0}, p0, p1, p2));
    EXPECT_FALSE(inTriangle({0.1f, 0.1f, 0}, p0, p0, p0)) << "a zero-area triangle holds nothing";
    const Vec3f q3{0, 1, 0}, q2{1, 1, 0};
    EXPECT_TRUE(inQuad({0.9f, 0.9f, 0}, p0, p1, q2, q3));
    EXPECT_TRUE(inQuad({0.1f, 0.9f, 0}, p0, p1, q2, q3));
    EXPECT_FALSE(inQuad({1.1f, 0.9f, 0}, p0, p1, q2, q3));
    // The decision follows the orthogonal projection onto the triangle's plane (y = 0 here).
    const Vec3f t0{0, 0, 0}, t1{1, 0, 0.01f}, t2{0, 0, 1};
    EXPECT_TRUE(inTriangle({0.3f, 0.3f, 0.3f}, t0, t1, t2));
    EXPECT_FALSE(inTriangle({0.3f, 0.3f, 0.8f}, t0, t1, t2));
}

TEST(ShadingGeometry, Invert3GivesTheInverseOrZeros)
{
    float m[9] = {2, 0, 0, 0, 4, 0, 1, 0, 1};
    invert3(m);
    const float expected[9] = {0.5f, 0, 0, 0, 0.25f, 0, -0.5f, 0, 1};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(m[i], expected[i]) << i;
    float singular[9] = {1, 2, 3, 2, 4, 6, 0, 1, 0};
    invert3(singular);
    for (float x : singular) EXPECT_EQ(x, 0.0f);
}

TEST(ShadingGeometry, FaceMapSendsFrameCornersToSquareCorners)
{
    // The frame at corner c: its origin is square corner c, origin + e1 is corner c + 1 and
    // origin + e2 corner c + 3. Widths are the linear part of the same map.
    const float square[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    const Vec3f origin{1, 2, 3}, e1{2, 0.5f, 0}, e2{-0.5f, 0, 3};
    for (int c = 0; c < 4; ++c) {
        FaceFrame frame;
        frame.faceId = 7;
        frame.origin = origin;
        frame.edge1 = e1;
        frame.edge2 = e2;
        frame.corner = c;
        FaceMap map;
        ASSERT_TRUE(makeFaceMap(frame, map));
        EXPECT_EQ(map.faceId, 7);
        float u, v;
        faceUv(map, origin, u, v);
        EXPECT_EQ(u, square[c][0]);
        EXPECT_EQ(v, square[c][1]);
        faceUv(map, origin + e1, u, v);
        EXPECT_NEAR(u, square[(c + 1) % 4][0], 1e-6f);
        EXPECT_NEAR(v, square[(c + 1) % 4][1], 1e-6f);
        faceUv(map, origin + e2, u, v);
        EXPECT_NEAR(u, square[(c + 3) % 4][0], 1e-6f);
        EXPECT_NEAR(v, square[(c + 3) % 4][1], 1e-6f);
        float uw, vw, u1, v1;
        faceWidth(map, e1 * 0.25f + e2 * 0.5f, uw, vw);
        faceUv(map, origin + e1 * 0.25f + e2 * 0.5f, u1, v1);
        EXPECT_NEAR(uw, u1 - square[c][0], 1e-6f);
        EXPECT_NEAR(vw, v1 - square[c][1], 1e-6f);
        // A width along the normal has no extent on the face.
        faceWidth(map, cross(e1, e2), uw, vw);
        EXPECT_NEAR(uw, 0.0f, 1e-6f);
        EXPECT_NEAR(vw, 0.0f, 1e-6f);
    }
}

// Zero-area, collinear, tiny and huge frames: either no map, or a map whose coordinates are finite
// for points on the frame's triangle.
TEST(ShadingGeometry, DegenerateAndExtremeFramesGiveNoMapOrFiniteCoordinates)
{
    struct Case {
        const char* what;
        Vec3f e1, e2;
        bool usable;
    };
    const Case cases[] = {
        {"zero area", {0, 0, 0}, {0, 0, 0}, false},
        {"collinear", {1, 2, 3}, {2, 4, 6}, false},
        {"nearly collinear", {1, 2, 3}, {1, 2, 3.00001f}, true},
        {"tiny", {1e-20f, 0, 0}, {0, 1e-20f, 0}, false},
        {"huge", {1e18f, 0, 0}, {0, 1e18f, 1e18f}, true},
        {"overflowing", {3e20f, 3e20f, 0}, {0, 3e20f, 3e20f}, false},
        {"infinite", {std::numeric_limits<float>::infinity(), 0, 0}, {0, 1, 0}, false},
    };
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (const Case& k : cases) {
        FaceFrame frame;
        frame.origin = {1, 1, 1};
        frame.edge1 = k.e1;
        frame.edge2 = k.e2;
        FaceMap map;
        ASSERT_EQ(makeFaceMap(frame, map), k.usable) << k.what;
        if (!k.usable) continue;
        for (int i = 0; i < 100; ++i) {
            float a = unit(rng), b = unit(rng);
            if (a + b > 1) a = 1 - a, b = 1 - b;
            float u, v;
            faceUv(map, frame.origin + k.e1 * a + k.e2 * b, u, v);
            EXPECT_TRUE(std::isfinite(u) && std::isfinite(v)) << k.what;
        }
    }
}
