#include "MatrixGeometryObject.h"

#include <cmath>

using TUtils::Vector3f;

MatrixGeometryObject::MatrixGeometryObject(const std::array<double, 16>& rowMajor) : matrix(rowMajor), normalMatrix{}
{
    const auto& m = matrix;
    const double a = m[0], b = m[1], c = m[2], d = m[4], e = m[5], f = m[6], g = m[8], h = m[9], i = m[10];
    const double det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    if (det == 0.0 || !std::isfinite(det)) return;
    // Inverse transpose = cofactor matrix / det.
    normalMatrix = {(e * i - f * h) / det,  -(d * i - f * g) / det, (d * h - e * g) / det,
                    -(b * i - c * h) / det, (a * i - c * g) / det,  -(a * h - b * g) / det,
                    (b * f - c * e) / det,  -(a * f - c * d) / det, (a * e - b * d) / det};
}

std::array<double, 16> MatrixGeometryObject::identity() noexcept
{
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

PluginInterface* MatrixGeometryObject::getInterface(uint64_t id)
{
    if (id == GeometryTransform::kInterfaceId) return static_cast<GeometryTransform*>(this);
    return PluginBase::getInterface(id);
}

Vector3f MatrixGeometryObject::transformNormal(const TUtils::ShadingContext&, const Vector3f& n)
{
    const auto& m = normalMatrix;
    return Vector3f{static_cast<float>(m[0] * n.x + m[1] * n.y + m[2] * n.z),
                    static_cast<float>(m[3] * n.x + m[4] * n.y + m[5] * n.z),
                    static_cast<float>(m[6] * n.x + m[7] * n.y + m[8] * n.z)};
}

Vector3f MatrixGeometryObject::transformVector(const TUtils::ShadingContext&, const Vector3f& v)
{
    const auto& m = matrix;
    return Vector3f{static_cast<float>(m[0] * v.x + m[1] * v.y + m[2] * v.z),
                    static_cast<float>(m[4] * v.x + m[5] * v.y + m[6] * v.z),
                    static_cast<float>(m[8] * v.x + m[9] * v.y + m[10] * v.z)};
}

Vector3f MatrixGeometryObject::transformPoint(const TUtils::ShadingContext&, const Vector3f& p)
{
    const auto& m = matrix;
    return Vector3f{static_cast<float>(m[0] * p.x + m[1] * p.y + m[2] * p.z + m[3]),
                    static_cast<float>(m[4] * p.x + m[5] * p.y + m[6] * p.z + m[7]),
                    static_cast<float>(m[8] * p.x + m[9] * p.y + m[10] * p.z + m[11])};
}
