#include "ImageFile.h"

#include "HostError.h"
#include "OutputFile.h"

#include <ImfRgbaFile.h>
#include <png.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace tarsk::bake {

using host::HostError;

float srgbToLinear(float c) { return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f); }

float linearToSrgb(float c)
{
    if (!(c > 0.0f)) return 0.0f;  // also maps NaN to black
    if (c >= 1.0f) return 1.0f;
    return c <= 0.0031308f ? c * 12.92f : 1.055f * std::pow(c, 1.0f / 2.4f) - 0.055f;
}

bool isExrPath(const std::string& path)
{
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".exr";
}

namespace {

Image readPng(const std::string& path)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        throw HostError("cannot read PNG '" + path + "': " + png.message);
    png.format = PNG_FORMAT_RGBA;
    if (png.width == 0 || png.height == 0 || png.width > 65536 || png.height > 65536) {
        png_image_free(&png);
        throw HostError("PNG '" + path + "' has an unsupported size");
    }
    std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, bytes.data(), 0, nullptr))
        throw HostError("cannot read PNG '" + path + "': " + png.message);
    Image image(static_cast<int>(png.width), static_cast<int>(png.height));
    for (size_t i = 0; i < image.rgba.size(); ++i) {
        float v = bytes[i] / 255.0f;
        image.rgba[i] = (i % 4 == 3) ? v : srgbToLinear(v);
    }
    return image;
}

Image readExr(const std::string& path)
{
    try {
        Imf::RgbaInputFile file(path.c_str());
        Imath::Box2i window = file.dataWindow();
        int w = window.max.x - window.min.x + 1, h = window.max.y - window.min.y + 1;
        if (w <= 0 || h <= 0 || w > 65536 || h > 65536) throw HostError("EXR '" + path + "' has an unsupported size");
        std::vector<Imf::Rgba> pixels(static_cast<size_t>(w) * h);
        file.setFrameBuffer(pixels.data() - window.min.x - static_cast<ptrdiff_t>(window.min.y) * w, 1, w);
        file.readPixels(window.min.y, window.max.y);
        Image image(w, h);
        for (size_t i = 0; i < pixels.size(); ++i) {
            image.rgba[4 * i + 0] = pixels[i].r;
            image.rgba[4 * i + 1] = pixels[i].g;
            image.rgba[4 * i + 2] = pixels[i].b;
            image.rgba[4 * i + 3] = pixels[i].a;
        }
        return image;
    } catch (const HostError&) {
        throw;
    } catch (const std::exception& e) {
        throw HostError("cannot read EXR '" + path + "': " + e.what());
    }
}

void writePng(const std::string& path, const Image& image)
{
    std::vector<uint8_t> bytes(image.rgba.size());
    for (size_t i = 0; i < image.rgba.size(); ++i) {
        float v = image.rgba[i];
        float encoded = (i % 4 == 3) ? std::clamp(std::isnan(v) ? 0.0f : v, 0.0f, 1.0f) : linearToSrgb(v);
        bytes[i] = static_cast<uint8_t>(std::lround(encoded * 255.0f));
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&png, path.c_str(), 0, bytes.data(), 0, nullptr))
        throw HostError("cannot write PNG '" + path + "': " + png.message);
}

void writeExr(const std::string& path, const Image& image)
{
    try {
        std::vector<Imf::Rgba> pixels(static_cast<size_t>(image.width) * image.height);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] =
                Imf::Rgba(image.rgba[4 * i], image.rgba[4 * i + 1], image.rgba[4 * i + 2], image.rgba[4 * i + 3]);
        {
            Imf::RgbaOutputFile file(path.c_str(), image.width, image.height, Imf::WRITE_RGBA);
            file.setFrameBuffer(pixels.data(), 1, image.width);
            file.writePixels(image.height);
        }
        // The file is finished when it is closed, and closing does not report a failed flush:
        // read the header and line offsets back before the file may replace anything.
        Imf::RgbaInputFile written(path.c_str());
        if (!written.isComplete()) throw HostError("cannot write EXR '" + path + "': the written file is incomplete");
    } catch (const HostError&) {
        throw;
    } catch (const std::exception& e) {
        throw HostError("cannot write EXR '" + path + "': " + e.what());
    }
}

}  // namespace

Image readImage(const std::string& path) { return isExrPath(path) ? readExr(path) : readPng(path); }

ImageFormat outputImageFormat(const std::string& path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == ".png") return ImageFormat::png;
    if (ext == ".exr") return ImageFormat::exr;
    throw HostError("cannot write '" + path +
                    "': " + (ext.empty() ? std::string("no file extension") : "unknown image format '" + ext + "'") +
                    "; images are written as .png or .exr");
}

void writeImage(const std::string& path, const Image& image)
{
    const ImageFormat format = outputImageFormat(path);
    if (image.width <= 0 || image.height <= 0) throw HostError("cannot write '" + path + "': the image is empty");
    host::replaceFile(path, [&](const std::string& temporary) {
        // libpng and OpenEXR name the file they failed on; name the target instead.
        try {
            if (format == ImageFormat::exr)
                writeExr(temporary, image);
            else
                writePng(temporary, image);
        } catch (const HostError& e) {
            std::string message = e.what();
            for (size_t at = message.find(temporary); at != std::string::npos;
                 at = message.find(temporary, at + path.size()))
                message.replace(at, temporary.size(), path);
            throw HostError(message);
        }
    });
}

}  // namespace tarsk::bake
