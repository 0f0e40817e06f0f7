#include "MatrixGeometryObject.h"

#include <tarsk/ShadingContext.h>

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using TUtils::GeometryTransform;
using TUtils::Vector3f;

namespace {

float dot(const Vector3f& a, const Vector3f& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vector3f cross(const Vector3f& a, const Vector3f& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

}  // namespace

TEST(MatrixGeometryObject, OffersItsTransformByFull64BitId)
{
    MatrixGeometryObject object;
    PluginInterface* found = object.getInterface(2006012001u);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->getInterfaceID(), 2006012001u);
    EXPECT_EQ(found->getPlugin(), &object);
    EXPECT_EQ(object.getInterface(0x100000000ull | 2006012001u), nullptr);
    EXPECT_EQ(object.getInterface(0x77780002u), nullptr);
}

TEST(MatrixGeometryObject, PointsVectorsAndNormalsOfRandomAffineMaps)
{
    std::mt19937 random(99);
    std::uniform_real_distribution<double> entry(-2.0, 2.0);
    const TUtils::ShadingContext context;
    for (int round = 0; round < 100; ++round) {
        std::array<double, 16> m{};
        for (int i = 0; i < 12; ++i) m[static_cast<size_t>(i)] = entry(random);
        m[15] = 1.0;
        MatrixGeometryObject object(m);
        auto* transform = static_cast<GeometryTransform*>(object.getInterface(GeometryTransform::kInterfaceId));

        const Vector3f p{float(entry(random)), float(entry(random)), float(entry(random))};
        const Vector3f mapped = transform->transformPoint(context, p);
        EXPECT_NEAR(mapped.x, m[0] * p.x + m[1] * p.y + m[2] * p.z + m[3], 1e-4);
        EXPECT_NEAR(mapped.z, m[8] * p.x + m[9] * p.y + m[10] * p.z + m[11], 1e-4);

        // A vector is the difference of two points: no translation.
        const Vector3f v{float(entry(random)), float(entry(random)), float(entry(random))};
        const Vector3f q{p.x + v.x, p.y + v.y, p.z + v.z};
        const Vector3f mq = transform->transformPoint(context, q);
        const Vector3f mv = transform->transformVector(context, v);
        EXPECT_NEAR(mv.y, mq.y - mapped.y, 1e-3);

        // A normal of the plane spanned by a and b stays normal to the mapped plane.
        const Vector3f a{1, 0.5f, -0.25f}, b{-0.5f, 1, 2};
        const Vector3f n = transform->transformNormal(context, cross(a, b));
        const Vector3f ma = transform->transformVector(context, a), mb = transform->transformVector(context, b);
        const float scale = std::sqrt(dot(n, n) * dot(ma, ma)) + 1e-6f;
        EXPECT_NEAR(dot(n, ma) / scale, 0.0f, 1e-3f);
        EXPECT_NEAR(dot(n, mb) / (std::sqrt(dot(n, n) * dot(mb, mb)) + 1e-6f), 0.0f, 1e-3f);
    }
}
