// Camera: a pinhole camera from position, look-at point, up vector and vertical field of view,
// giving primary rays with their pixel differentials (the change of direction per pixel in x and y).
#pragma once

#include "Scene.h"
#include "Vec3.h"

namespace tarsk::render {

using host::Vec3;

struct CameraRay {
    Vec3 origin;
    Vec3 direction;  // not normalised: the image plane lies at distance 1
    Vec3 dDirdx;     // direction change for one pixel step right
    Vec3 dDirdy;     // direction change for one pixel step down
};

class Camera {
public:
    Camera(const host::Camera& settings, int width, int height);
    // The ray through image position (x, y) in pixels, (0, 0) the top-left corner.
    CameraRay ray(double x, double y) const;

private:
    Vec3 origin, forward, right, down;  // right and down span one pixel each
};

}  // namespace tarsk::render
