// MatrixGeometryObject: a host-side hit object whose GeometryTransform (interface 2006012001)
// applies a 4x4 affine matrix, mapping render space into the space of the object's mesh lists.
// Host programs and tests hand it to textures as ShadingContext::geometryObject.
#pragma once

#include <tarsk/GeometryTransform.h>
#include <tarsk/PluginBase.h>

#include <array>

class MatrixGeometryObject : public PluginBase, public TUtils::GeometryTransform {
public:
    // Row-major: point' = M * (x, y, z, 1); the last row is taken as (0, 0, 0, 1).
    explicit MatrixGeometryObject(const std::array<double, 16>& rowMajor = identity());

    static std::array<double, 16> identity() noexcept;

    PluginInterface* getInterface(uint64_t id) override;
    PluginBase* getPlugin() override { return this; }

    TUtils::Vector3f transformNormal(const TUtils::ShadingContext& context, const TUtils::Vector3f& normal) override;
    TUtils::Vector3f transformVector(const TUtils::ShadingContext& context, const TUtils::Vector3f& vector) override;
    TUtils::Vector3f transformPoint(const TUtils::ShadingContext& context, const TUtils::Vector3f& point) override;

private:
    std::array<double, 16> matrix;
    std::array<double, 9> normalMatrix;  // inverse transpose of the upper 3x3; zero when singular
};
