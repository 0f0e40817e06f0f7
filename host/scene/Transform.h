// Transform: a 4 x 4 affine matrix in double precision, row-major as scenes write it, mapping
// column vectors (p' = M p). Objects carry one from object to world space and its inverse.
#pragma once

#include "Vec3.h"

#include <array>
#include <optional>

namespace tarsk::host {

class Transform {
public:
    Transform();  // identity
    explicit Transform(const std::array<double, 16>& rowMajor);

    Vec3 point(const Vec3& p) const;   // applies translation
    Vec3 vector(const Vec3& v) const;  // ignores translation
    // The inverse matrix, or nothing when the matrix is singular or not finite.
    std::optional<Transform> inverse() const;
    bool isIdentity() const;
    const std::array<double, 16>& rowMajor() const { return m; }

    static Transform translate(const Vec3& t);
    static Transform scale(double s);
    static Transform rotateY(double degrees);
    Transform operator*(const Transform& rhs) const;

private:
    std::array<double, 16> m;
};

}  // namespace tarsk::host
