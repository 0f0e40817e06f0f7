// A rotation about an axis, formed in double precision and applied to float vectors (any type
// with x, y, z members), for tests that turn geometry and expect the texture to turn with it.
#pragma once

#include <cmath>

namespace texptex_test {

struct Rotation {
    double m[3][3];

    // About the axis (ax, ay, az), not necessarily of unit length, by `angle` (Rodrigues' formula).
    Rotation(double ax, double ay, double az, double angle)
    {
        const double n = std::sqrt(ax * ax + ay * ay + az * az);
        ax /= n, ay /= n, az /= n;
        const double c = std::cos(angle), s = std::sin(angle), k = 1 - c;
        const double r[3][3] = {{c + ax * ax * k, ax * ay * k - az * s, ax * az * k + ay * s},
                                {ay * ax * k + az * s, c + ay * ay * k, ay * az * k - ax * s},
                                {az * ax * k - ay * s, az * ay * k + ax * s, c + az * az * k}};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) m[i][j] = r[i][j];
    }

    template <class Vec>
    Vec operator()(const Vec& v) const
    {
        return {float(m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z),
                float(m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z),
                float(m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z)};
    }
};

}  // namespace texptex_test
