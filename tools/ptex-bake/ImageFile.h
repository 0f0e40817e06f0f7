// ImageFile: an RGBA image of linear floats and its files: PNG through libpng (8-bit, sRGB
// encoded) and OpenEXR through OpenEXR (half RGBA, linear), chosen by the file extension.
// ptex-bake reads images to sample; tarsk-render writes its frames.
#pragma once

#include <string>
#include <vector>

namespace tarsk::bake {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<float> rgba;  // linear, premultiplied by nothing; row 0 is the top row

    Image() = default;
    Image(int w, int h) : width(w), height(h), rgba(static_cast<size_t>(w) * h * 4, 0.0f) {}
    float* pixel(int x, int y) { return rgba.data() + (static_cast<size_t>(y) * width + x) * 4; }
    const float* pixel(int x, int y) const { return rgba.data() + (static_cast<size_t>(y) * width + x) * 4; }
};

float srgbToLinear(float encoded);
float linearToSrgb(float linear);

// True when the path ends in ".exr" (any case); everything else is treated as PNG.
bool isExrPath(const std::string& path);

// Reads a PNG or EXR file; throws host::HostError with libpng's or OpenEXR's reason.
Image readImage(const std::string& path);

enum class ImageFormat { png, exr };

// The format an output path asks for by its extension: ".png" or ".exr" (any case). Throws
// host::HostError for any other extension, so that a caller can refuse it before doing the work.
ImageFormat outputImageFormat(const std::string& path);

// Writes by extension through a temporary file beside `path` that replaces it only when complete:
// a failed write leaves an existing file as it was. Throws host::HostError when the file cannot be
// written or the extension is neither ".png" nor ".exr".
void writeImage(const std::string& path, const Image& image);

}  // namespace tarsk::bake
