#include "FaceLocation.h"
#include "ShadingGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

TEST(ShadingGeometry, SolveInPlaneTakesTheFirstUsableAxisPair)
{
    float s1, s2;
    // A frame in the plane x = 2: the pair (x, y) is degenerate, (y, z) solves it.
    ASSERT_TRUE(solveInPlane({0, 1, 0}, {0, 0, 1}, {0, 0.25f, 0.75f}, s1, s2));
    EXPECT_EQ(s1, 0.25f);
    EXPECT_EQ(s2, 0.75f);
    // The plane y = 0: (x, y) and (y, z) are degenerate, (z, x) solves it.
    ASSERT_TRUE(solveInPlane({1, 0, 0}, {0, 0, 1}, {0.5f, 0, 0.125f}, s1, s2));
    EXPECT_EQ(s1, 0.5f);
    EXPECT_EQ(s2, 0.125f);
    // Degenerate in all three pairs: no coordinates, and finite zeros.
    EXPECT_FALSE(solveInPlane({1, 1, 1}, {2, 2, 2}, {1, 0, 0}, s1, s2));
    EXPECT_EQ(s1, 0.0f);
    EXPECT_EQ(s2, 0.0f);
}

TEST(ShadingGeometry, SolveInPlaneInvertsRandomFrames)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> coord(-4.0f, 4.0f);
    for (int i = 0; i < 1000; ++i) {
        const Vec3f e1{coord(rng), coord(rng), coord(rng)}, e2{coord(rng), coord(rng), coord(rng)};
        const float a = coord(rng), b = coord(rng);
        float s1, s2;
        if (!solveInPlane(e1, e2, e1 * a + e2 * b, s1, s2)) continue;
        // The solve uses one axis pair only, so its accuracy follows that pair's condition.
        EXPECT_NEAR(s1, a, 2e-2f * (1 + std::fabs(a) + std::fabs(b)));
        EXPECT_NEAR(s2, b, 2e-2f * (1 + std::fabs(a) + std::fabs(b)));
    }
}

TEST(ShadingGeometry, InsideTestsAreInclusiveAndRejectNaN)
{
    const Vec3f p0{0, 0, 0}, p1{1, 0, 0}, p2{0, 1, 0};
    EXPECT_TRUE(inTriangle({0, 0, 0}, p0, p1, p2));
    EXPECT_TRUE(inTriangle({0.5f, 0.5f, 0}, p0, p1, p2)) << "the hypotenuse is inside";
    EXPECT_FALSE(inTriangle({0.6f, 0.5f, 0}, p0, p1, p2));
    EXPECT_FALSE(inTriangle({-1e-6f, 0.5f, 0}, p0, p1, p2));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(inTriangle({nan, 0.1f, 0}, p0, p1, p2));
    EXPECT_FALSE(inTriangle({0.1f, 0.1f, 0}, p0, p0, p0)) << "a zero-area triangle holds nothing";
    const Vec3f q3{0, 1, 0}, q2{1, 1, 0};
    EXPECT_TRUE(inQuad({0.9f, 0.9f, 0}, p0, p1, q2, q3));
    EXPECT_TRUE(inQuad({0.1f, 0.9f, 0}, p0, p1, q2, q3));
    EXPECT_FALSE(inQuad({1.1f, 0.9f, 0}, p0, p1, q2, q3));
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

TEST(ShadingGeometry, ProjectionRemovesTheNormalComponent)
{
    double n[3];
    crossDouble({2, 0, 0}, {0, 3, 0}, n);
    EXPECT_EQ(n[2], 6.0);
    const Vec3f v = projectOntoPlane({1, 2, 5}, n);
    EXPECT_EQ(v.x, 1.0f);
    EXPECT_EQ(v.y, 2.0f);
    EXPECT_EQ(v.z, 0.0f);
    const double zero[3] = {0, 0, 0};
    const Vec3f kept = projectOntoPlane({1, 2, 5}, zero);
    EXPECT_EQ(kept.z, 5.0f) << "no plane: the vector stays finite and unchanged";
}

TEST(ShadingGeometry, CornerRemapSendsFrameCornersToSquareCorners)
{
    // The frame at corner c: its origin is square corner c, s1 = 1 runs to corner c + 1 and
    // s2 = 1 to corner c + 3.
    const float square[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int c = 0; c < 4; ++c) {
        float u, v;
        cornerToFaceUv(c, 0, 0, u, v);
        EXPECT_EQ(u, square[c][0]);
        EXPECT_EQ(v, square[c][1]);
        cornerToFaceUv(c, 1, 0, u, v);
        EXPECT_EQ(u, square[(c + 1) % 4][0]);
        EXPECT_EQ(v, square[(c + 1) % 4][1]);
        cornerToFaceUv(c, 0, 1, u, v);
        EXPECT_EQ(u, square[(c + 3) % 4][0]);
        EXPECT_EQ(v, square[(c + 3) % 4][1]);
        // Widths are the linear part of the same map.
        float uw, vw, u0, v0, u1, v1;
        cornerToFaceWidth(c, 0.25f, 0.5f, uw, vw);
        cornerToFaceUv(c, 0, 0, u0, v0);
        cornerToFaceUv(c, 0.25f, 0.5f, u1, v1);
        EXPECT_EQ(uw, u1 - u0);
        EXPECT_EQ(vw, v1 - v0);
    }
}

// The evaluation solves the hit and both differentials with one PlanarSolver; it must give
// exactly, bit for bit, what solveInPlane gives, including frames whose leading axis pairs are
// degenerate, all-degenerate frames and non-finite data.
TEST(ShadingGeometry, PlanarSolverMatchesSolveInPlaneBitForBit)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> coord(-4.0f, 4.0f);
    std::uniform_int_distribution<int> pick(0, 9);
    const float specials[] = {
        0.0f, -0.0f, 1e-4f, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(), 3e38f};
    auto component = [&]() {
        const int k = pick(rng);
        return k < 6 ? specials[k] : coord(rng);
    };
    auto same = [](float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    int solved = 0, refused = 0;
    for (int i = 0; i < 20000; ++i) {
        Vec3f e1{coord(rng), coord(rng), coord(rng)}, e2{coord(rng), coord(rng), coord(rng)};
        // Often flatten an axis or drop in special values so that later pairs get their turn.
        if (pick(rng) < 4) e1.x = e2.x = 0.0f;
        if (pick(rng) < 3) e1.y = e2.y = 0.0f;
        if (pick(rng) < 1) e1.z = component();
        const Vec3f d{component(), coord(rng), coord(rng)};
        PlanarSolver solver;
        float s1, s2;
        const bool oneShot = solveInPlane(e1, e2, d, s1, s2);
        ASSERT_EQ(solver.init(e1, e2), oneShot);
        if (!oneShot) {
            ++refused;
            continue;
        }
        ++solved;
        float t1, t2;
        solver.solve(d, t1, t2);
        EXPECT_TRUE(same(s1, t1) && same(s2, t2)) << i;
    }
    EXPECT_GT(solved, 1000);
    EXPECT_GT(refused, 10);
}
