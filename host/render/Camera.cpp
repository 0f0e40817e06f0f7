#include "Camera.h"

#include <cmath>

namespace tarsk::render {

Camera::Camera(const host::Camera& s, int width, int height) : origin(s.position)
{
    Vec3 view = host::normalize(s.lookAt - s.position);
    Vec3 side = host::normalize(host::cross(view, s.up));
    Vec3 up = host::cross(side, view);
    double pixel = 2.0 * std::tan(s.fovDeg * M_PI / 360.0) / height;  // pixel size at distance 1
    right = side * pixel;
    down = up * -pixel;
    forward = view - right * (width / 2.0) - down * (height / 2.0);  // towards the top-left corner
}

CameraRay Camera::ray(double x, double y) const { return {origin, forward + right * x + down * y, right, down}; }

}  // namespace tarsk::render
