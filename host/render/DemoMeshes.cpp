#include "DemoMeshes.h"

#include <cmath>

namespace tarsk::render {

using host::ObjMesh;
using host::Vec3;

ObjMesh demoPanel()
{
    constexpr int nx = 4, ny = 3;
    ObjMesh mesh;
    for (int j = 0; j <= ny; ++j)
        for (int i = 0; i <= nx; ++i) {
            // The corners in the middle of the n-gons' long sides move outwards, so that no n-gon
            // has a straight angle (which would make its sub-face there a degenerate quad); the
            // top border is arched for the hexagon's sake.
            double lift = (i == 2 && j == 1) || (i == 1 && j == 2) ? -0.14 : 0.0;
            if (j == ny) lift = 0.3 * (1.0 - (i - 2.0) * (i - 2.0) / 4.0);
            double angle = (i / double(nx) - 0.5) * 1.1;
            mesh.positions.push_back({2.0 * std::sin(angle), j * 0.55 + lift, 2.0 * (std::cos(angle) - 1.0)});
        }
    auto v = [&](int i, int j) { return j * (nx + 1) + i; };
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            if (j == 1 && i == 1) {
                // Cells (1,1) and (2,1): pentagon a b c d e and triangle a e f.
                mesh.addFace({v(1, 1), v(2, 1), v(3, 1), v(3, 2), v(2, 2)});
                mesh.addFace({v(1, 1), v(2, 2), v(1, 2)});
                continue;
            }
            if (j == 1 && i == 2) continue;
            if (j == 2 && i == 0) {
                mesh.addFace({v(0, 2), v(1, 2), v(2, 2), v(2, 3), v(1, 3), v(0, 3)});  // hexagon
                continue;
            }
            if (j == 2 && i == 1) continue;
            mesh.addFace({v(i, j), v(i + 1, j), v(i + 1, j + 1), v(i, j + 1)});
        }
    return mesh;
}

ObjMesh demoSphere(int segments, int rings)
{
    ObjMesh mesh;
    mesh.positions.push_back({0, 1, 0});  // north pole
    for (int r = 1; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            double theta = M_PI * r / rings, phi = 2 * M_PI * s / segments;
            mesh.positions.push_back(
                {std::sin(theta) * std::cos(phi), std::cos(theta), -std::sin(theta) * std::sin(phi)});
        }
    mesh.positions.push_back({0, -1, 0});  // south pole
    const int south = static_cast<int>(mesh.positions.size()) - 1;
    auto v = [&](int r, int s) { return 1 + (r - 1) * segments + (s % segments); };
    for (int s = 0; s < segments; ++s) mesh.addFace({0, v(1, s), v(1, s + 1)});
    for (int r = 1; r + 1 < rings; ++r)
        for (int s = 0; s < segments; ++s) mesh.addFace({v(r, s), v(r + 1, s), v(r + 1, s + 1), v(r, s + 1)});
    for (int s = 0; s < segments; ++s) mesh.addFace({v(rings - 1, s), south, v(rings - 1, s + 1)});
    return mesh;
}

ObjMesh demoTorus(double major, double minor, int around, int tube)
{
    ObjMesh mesh;
    for (int i = 0; i < around; ++i)
        for (int j = 0; j < tube; ++j) {
            double a = 2 * M_PI * i / around, b = 2 * M_PI * j / tube;
            double radius = major + minor * std::cos(b);
            mesh.positions.push_back({radius * std::cos(a), minor * std::sin(b), -radius * std::sin(a)});
        }
    auto v = [&](int i, int j) { return (i % around) * tube + (j % tube); };
    for (int i = 0; i < around; ++i)
        for (int j = 0; j < tube; ++j) {
            mesh.addFace({v(i, j), v(i + 1, j), v(i + 1, j + 1)});
            mesh.addFace({v(i, j), v(i + 1, j + 1), v(i, j + 1)});
        }
    return mesh;
}

ObjMesh demoCube()
{
    ObjMesh mesh;
    for (int k = 0; k < 8; ++k) mesh.positions.push_back({k & 1 ? 0.5 : -0.5, k & 2 ? 0.5 : -0.5, k & 4 ? 0.5 : -0.5});
    mesh.addFace({0, 2, 3, 1});
    mesh.addFace({4, 5, 7, 6});
    mesh.addFace({0, 1, 5, 4});
    mesh.addFace({2, 6, 7, 3});
    mesh.addFace({0, 4, 6, 2});
    mesh.addFace({1, 3, 7, 5});
    return mesh;
}

void rotateAboutX(ObjMesh& mesh, double degrees)
{
    const double c = std::cos(degrees * M_PI / 180), s = std::sin(degrees * M_PI / 180);
    for (Vec3& p : mesh.positions) p = {p.x, c * p.y - s * p.z, s * p.y + c * p.z};
}

}  // namespace tarsk::render
