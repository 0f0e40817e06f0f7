#include "DemoTextures.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tarsk::render {

using host::Vec3;

namespace {

double noise(const Vec3& p) { return bake::valueNoise(p); }

Vec3 mix(const Vec3& a, const Vec3& b, double t) { return a * (1 - t) + b * t; }

void store(const Vec3& colour, double alpha, float rgba[4])
{
    rgba[0] = static_cast<float>(colour.x);
    rgba[1] = static_cast<float>(colour.y);
    rgba[2] = static_cast<float>(colour.z);
    rgba[3] = static_cast<float>(alpha);
}

class Rings final : public bake::TexelSource {
public:
    void sample(const Vec3& p, const std::array<double, 2>&, float rgba[4]) const override
    {
        const double r = host::length(Vec3(p.x - 0.25, p.y - 1.05, 0)) + 0.08 * noise(p * 3.0);
        const double wave = 0.5 + 0.5 * std::sin(r * 2 * M_PI * 3.2);
        const double fine = 0.5 + 0.5 * std::sin(r * 2 * M_PI * 9.6);
        const double hue = std::fmod(r * 0.9 + 10, 1.0);
        Vec3 base(0.5 + 0.5 * std::cos(2 * M_PI * hue), 0.5 + 0.5 * std::cos(2 * M_PI * (hue - 0.33)),
                  0.5 + 0.5 * std::cos(2 * M_PI * (hue - 0.67)));
        Vec3 colour = mix(base * 0.12, base * 0.9 + Vec3(0.05, 0.05, 0.05), wave) * (0.75 + 0.25 * fine);
        store(colour, 1, rgba);
    }
    bool needsUvs() const override { return false; }
};

class Checker final : public bake::TexelSource {
public:
    Checker(double cell_, double edge_) : cell(cell_), edge(edge_) {}
    void sample(const Vec3& p, const std::array<double, 2>&, float rgba[4]) const override
    {
        // The product of three square waves, each with edges `edge` wide: a texel centre near a
        // cell border takes the mix its texel covers instead of either colour, so the baked
        // borders carry no staircase.
        auto square = [&](double x) { return std::clamp(std::sin(M_PI * x / cell) * cell / (M_PI * edge), -1.0, 1.0); };
        const double parity = 0.5 + 0.5 * square(p.x) * square(p.y) * square(p.z);
        store(mix(Vec3(0.05, 0.22, 0.3), Vec3(0.85, 0.84, 0.8), parity), 1, rgba);
    }
    bool needsUvs() const override { return false; }

private:
    double cell, edge;
};

class Marble final : public bake::TexelSource {
public:
    void sample(const Vec3& p, const std::array<double, 2>&, float rgba[4]) const override
    {
        double turbulence = 0, amplitude = 1, frequency = 2.5;
        for (int octave = 0; octave < 4; ++octave) {
            turbulence += amplitude * noise(p * frequency + Vec3(octave * 7.1, 0, 0));
            amplitude *= 0.5;
            frequency *= 2.0;
        }
        const double stripe = 0.5 + 0.5 * std::sin((p.x + p.y * 0.6 + p.z * 0.3) * 9.0 + turbulence * 4.0);
        Vec3 colour = mix(Vec3(0.08, 0.18, 0.55), Vec3(0.92, 0.86, 0.72), std::pow(stripe, 0.6));
        store(colour, 1, rgba);
    }
    bool needsUvs() const override { return false; }
};

class Perforated final : public bake::TexelSource {
public:
    Perforated(int holes_, double radius_, double edge_) : holes(holes_), radius(radius_), edge(edge_) {}
    void sample(const Vec3& p, const std::array<double, 2>&, float rgba[4]) const override
    {
        // The side the point lies on is the axis of its largest coordinate; its plane coordinates
        // are the other two, from 0 to 1 across the side.
        const double a[3] = {std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)};
        const int axis = a[0] >= a[1] && a[0] >= a[2] ? 0 : (a[1] >= a[2] ? 1 : 2);
        const double s = p[(axis + 1) % 3] + 0.5, t = p[(axis + 2) % 3] + 0.5;
        const double cs = s * holes - std::floor(s * holes) - 0.5, ct = t * holes - std::floor(t * holes) - 0.5;
        // Distance from the hole's rim in side units: alpha ramps from 0 to 1 over `edge`.
        const double beyondRim = (std::sqrt(cs * cs + ct * ct) - radius) / holes;
        const double alpha = std::clamp(0.5 + beyondRim / edge, 0.0, 1.0);
        const double brushed = 0.8 + 0.2 * noise(Vec3(s * 60, t * 3, axis * 3.0));
        const double rim = std::clamp(beyondRim * 30, 0.0, 1.0);
        Vec3 colour = Vec3(0.85, 0.45, 0.12) * brushed * (0.45 + 0.55 * rim);
        store(colour, alpha, rgba);
    }
    bool needsUvs() const override { return false; }

private:
    int holes;
    double radius, edge;
};

}  // namespace

std::unique_ptr<bake::TexelSource> ringsTexture() { return std::make_unique<Rings>(); }
std::unique_ptr<bake::TexelSource> checkerTexture(double cell, double edge)
{
    return std::make_unique<Checker>(cell, edge);
}
std::unique_ptr<bake::TexelSource> marbleTexture() { return std::make_unique<Marble>(); }
std::unique_ptr<bake::TexelSource> perforatedTexture(int holes, double radius, double edge)
{
    return std::make_unique<Perforated>(holes, radius, edge);
}

}  // namespace tarsk::render
