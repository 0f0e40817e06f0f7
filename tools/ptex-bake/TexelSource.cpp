#include "TexelSource.h"

#include "HostError.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tarsk::bake {

namespace {

// Hashed lattice values for the value noise; seed 0 hashes the lattice point alone.

double lattice(int64_t x, int64_t y, int64_t z, int seed)
{
    uint64_t h = static_cast<uint64_t>(x) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(y) * 0xC2B2AE3D27D4EB4Full ^
                 static_cast<uint64_t>(z) * 0x165667B19E3779F9ull ^ static_cast<uint64_t>(seed) * 0x27D4EB2F165667C5ull;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    return static_cast<double>(h >> 11) / static_cast<double>(1ull << 53);
}

double fade(double t) { return t * t * t * (t * (t * 6 - 15) + 10); }

}  // namespace

double valueNoise(const host::Vec3& p, int seed)
{
    double fx = std::floor(p.x), fy = std::floor(p.y), fz = std::floor(p.z);
    auto ix = static_cast<int64_t>(fx), iy = static_cast<int64_t>(fy), iz = static_cast<int64_t>(fz);
    double tx = fade(p.x - fx), ty = fade(p.y - fy), tz = fade(p.z - fz);
    double result = 0;
    for (int corner = 0; corner < 8; ++corner) {
        int dx = corner & 1, dy = (corner >> 1) & 1, dz = corner >> 2;
        double w = (dx ? tx : 1 - tx) * (dy ? ty : 1 - ty) * (dz ? tz : 1 - tz);
        result += w * lattice(ix + dx, iy + dy, iz + dz, seed);
    }
    return result;
}

using host::Vec3;

namespace {

class ImageSource final : public TexelSource {
public:
    explicit ImageSource(Image img) : image(std::move(img)) {}

    void sample(const Vec3&, const std::array<double, 2>& uv, float rgba[4]) const override
    {
        // Texel centres sit at half-integers; wrap in both directions.
        double x = uv[0] * image.width - 0.5;
        double y = (1.0 - uv[1]) * image.height - 0.5;
        double fx = std::floor(x), fy = std::floor(y);
        double tx = x - fx, ty = y - fy;
        // Wrapped in floating point first, so that huge texture coordinates never overflow an int.
        auto wrap = [](double i, int n) {
            double w = std::fmod(i, static_cast<double>(n));
            if (!(w >= 0)) w = std::isfinite(w) ? w + n : 0;
            return std::min(static_cast<int>(w), n - 1);
        };
        int x0 = wrap(fx, image.width), x1 = wrap(fx + 1, image.width);
        int y0 = wrap(fy, image.height), y1 = wrap(fy + 1, image.height);
        for (int c = 0; c < 4; ++c) {
            double top = image.pixel(x0, y0)[c] * (1 - tx) + image.pixel(x1, y0)[c] * tx;
            double bottom = image.pixel(x0, y1)[c] * (1 - tx) + image.pixel(x1, y1)[c] * tx;
            rgba[c] = static_cast<float>(top * (1 - ty) + bottom * ty);
        }
    }
    bool needsUvs() const override { return true; }

private:
    Image image;
};

// Positions are mapped into the unit cube of the mesh's bounding box first.
class Procedural : public TexelSource {
public:
    Procedural(const Vec3& lo_, const Vec3& hi_) : lo(lo_)
    {
        Vec3 size = hi_ - lo_;
        extent = std::max({size.x, size.y, size.z, 1e-9});
    }
    bool needsUvs() const override { return false; }

protected:
    Vec3 unit(const Vec3& p) const { return (p - lo) / extent; }

private:
    Vec3 lo;
    double extent;
};

class Checker final : public Procedural {
public:
    using Procedural::Procedural;
    void sample(const Vec3& p, const std::array<double, 2>&, float rgba[4]) const override
    {
        Vec3 q = unit(p) * 6.0;
        // A tiny offset keeps cell borders off the faces of axis-aligned boxes.
        long parity = std::lround(std::floor(q.x + 1e-4) + std::floor(q.y + 1e-4) + std::floor(q.z + 1e-4));
        bool odd = (parity & 1) != 0;
        rgba[0] = odd ? 0.9f : 0.08f;
        rgba[1] = odd ? 0.75f : 0.2f;
        rgba[2] = odd ? 0.2f : 0.6f;
        rgba[3] = odd ? 1.0f : 0.35f;
    }
};

// Three octaves of value noise per channel, and a slower one for alpha.
class Noise final : public Procedural {
public:
    using Procedural::Procedural;
    void sample(const Vec3& p, const std::array<double, 2>&, float rgba[4]) const override
    {
        Vec3 q = unit(p) * 4.0;
        for (int c = 0; c < 3; ++c) {
            double sum = 0, amplitude = 0.5, frequency = 1;
            for (int octave = 0; octave < 3; ++octave) {
                sum += amplitude * valueNoise(q * frequency, c * 7 + octave);
                amplitude *= 0.5;
                frequency *= 2.0;
            }
            rgba[c] = static_cast<float>(std::clamp(sum * 1.15, 0.0, 1.0));
        }
        rgba[3] = static_cast<float>(std::clamp(0.25 + valueNoise(q * 1.5, 31), 0.0, 1.0));
    }
};

// A colour that changes linearly with position: equal on both sides of any seam by construction.
class Gradient final : public Procedural {
public:
    using Procedural::Procedural;
    void sample(const Vec3& p, const std::array<double, 2>&, float rgba[4]) const override
    {
        Vec3 q = unit(p);
        rgba[0] = static_cast<float>(0.1 + 0.8 * std::clamp(q.x, 0.0, 1.0));
        rgba[1] = static_cast<float>(0.1 + 0.8 * std::clamp(q.y, 0.0, 1.0));
        rgba[2] = static_cast<float>(0.1 + 0.8 * std::clamp(q.z, 0.0, 1.0));
        rgba[3] = 1.0f;
    }
};

}  // namespace

const char* proceduralNames() { return "checker, noise, gradient"; }

std::unique_ptr<TexelSource> makeProcedural(const std::string& name, const Vec3& lo, const Vec3& hi)
{
    if (name == "checker") return std::make_unique<Checker>(lo, hi);
    if (name == "noise") return std::make_unique<Noise>(lo, hi);
    if (name == "gradient") return std::make_unique<Gradient>(lo, hi);
    throw host::HostError("unknown procedural '" + name + "'; expected one of " + proceduralNames());
}

std::unique_ptr<TexelSource> makeImageSource(Image image)
{
    if (image.width <= 0 || image.height <= 0) throw host::HostError("the image to sample is empty");
    return std::make_unique<ImageSource>(std::move(image));
}

}  // namespace tarsk::bake
