// Caption: lines of text drawn into a rendered image with FreeType, anti-aliased and composited
// in linear light, for the labels of the built-in demo. Fonts are DejaVu Sans (Debian package
// fonts-dejavu-core); without them the image stays as it is and the caller is told why.
#pragma once

#include "ImageFile.h"
#include "Vec3.h"

#include <string>
#include <vector>

namespace tarsk::render {

struct CaptionLine {
    std::string text;    // UTF-8
    double x = 0.5;      // horizontal centre of the line, as a fraction of the image width
    double y = 0.5;      // baseline, as a fraction of the image height
    double size = 0.03;  // font size (em height) as a fraction of the image height
    bool bold = false;
    host::Vec3 colour{0.8, 0.8, 0.8};  // linear
};

// Draws the lines. Answers false, with `problem` saying why, when no font can be loaded.
bool drawCaptions(bake::Image& image, const std::vector<CaptionLine>& lines, std::string& problem);

}  // namespace tarsk::render
