#include "Caption.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

namespace tarsk::render {

namespace {

const char* const kRegularFonts[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"};
const char* const kBoldFonts[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
                                  "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"};

struct LibraryDeleter {
    void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
struct FaceDeleter {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};
using Library = std::unique_ptr<std::remove_pointer_t<FT_Library>, LibraryDeleter>;
using Face = std::unique_ptr<std::remove_pointer_t<FT_Face>, FaceDeleter>;

template <size_t N>
Face openFace(FT_Library library, const char* const (&paths)[N])
{
    for (const char* path : paths) {
        FT_Face face = nullptr;
        if (FT_New_Face(library, path, 0, &face) == 0) return Face(face);
    }
    return nullptr;
}

// The code points of a UTF-8 text; malformed bytes become '?'.
std::vector<uint32_t> codePoints(const std::string& text)
{
    std::vector<uint32_t> points;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size()) {
            points.push_back('?');
            ++i;
            continue;
        }
        uint32_t cp = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        points.push_back(cp);
        i += length;
    }
    return points;
}

// The line's advance width in pixels at the face's current size.
double lineWidth(FT_Face face, const std::vector<uint32_t>& points)
{
    double width = 0;
    for (uint32_t cp : points)
        if (FT_Load_Char(face, cp, FT_LOAD_DEFAULT) == 0) width += face->glyph->advance.x / 64.0;
    return width;
}

void drawLine(bake::Image& image, FT_Face face, const CaptionLine& line)
{
    const auto pixels = static_cast<FT_UInt>(std::max(6.0, std::round(line.size * image.height)));
    if (FT_Set_Pixel_Sizes(face, 0, pixels) != 0) return;
    const std::vector<uint32_t> points = codePoints(line.text);
    double penX = line.x * image.width - lineWidth(face, points) / 2;
    const int baseline = static_cast<int>(std::lround(line.y * image.height));
    for (uint32_t cp : points) {
        if (FT_Load_Char(face, cp, FT_LOAD_RENDER) != 0) continue;
        const FT_GlyphSlot glyph = face->glyph;
        const FT_Bitmap& bitmap = glyph->bitmap;
        const int left = static_cast<int>(std::lround(penX)) + glyph->bitmap_left;
        const int top = baseline - glyph->bitmap_top;
        for (unsigned row = 0; row < bitmap.rows; ++row)
            for (unsigned column = 0; column < bitmap.width; ++column) {
                const int x = left + static_cast<int>(column), y = top + static_cast<int>(row);
                if (x < 0 || y < 0 || x >= image.width || y >= image.height) continue;
                const double coverage = bitmap.buffer[row * bitmap.pitch + column] / 255.0;
                float* out = image.pixel(x, y);
                for (int c = 0; c < 3; ++c)
                    out[c] = static_cast<float>(out[c] * (1 - coverage) + line.colour[c] * coverage);
            }
        penX += glyph->advance.x / 64.0;
    }
}

}  // namespace

bool drawCaptions(bake::Image& image, const std::vector<CaptionLine>& lines, std::string& problem)
{
    FT_Library raw = nullptr;
    if (FT_Init_FreeType(&raw) != 0) {
        problem = "FreeType could not be initialised";
        return false;
    }
    Library library(raw);
    Face regular = openFace(raw, kRegularFonts), bold = openFace(raw, kBoldFonts);
    if (!regular || !bold) {
        problem =
            std::string("no caption font: ") + kRegularFonts[0] + " is missing (Debian package fonts-dejavu-core)";
        return false;
    }
    for (const CaptionLine& line : lines) drawLine(image, line.bold ? bold.get() : regular.get(), line);
    return true;
}

}  // namespace tarsk::render
