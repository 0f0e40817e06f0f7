#include "TextureParameterHelp.h"

#include <string>

namespace tarsk::cli {

namespace {

const char kFilterTypes[] =
    "  0 point, 1 bilinear, 2 box, 3 gaussian, 4 bicubic (\"sharpness\" 0 is bspline, 1 catmullrom),\n"
    "  5 bspline, 6 catmullrom, 7 mitchell; any other value is box. On triangle-type files 0 is the\n"
    "  triangle point filter and every other value the triangle filter.\n";

const char kAlphaTypes[] =
    "  0 alpha 0; 1 an alpha channel: the file's (\"auto_alpha\" true, the default) or \"a_channel\"\n"
    "  (\"auto_alpha\" false), the luminance where there is none; any other value the luminance\n"
    "  0.3 R + 0.59 G + 0.11 B of the converted colour.\n";

const char kColorSpaces[] =
    "  0 linear; 1 gamma corrected: R, G, B above 0.001 raised to 1/\"gamma\" (default gamma 1.0:\n"
    "  unchanged); 2 sRGB, decoded to linear; any other value linear.\n";

}  // namespace

const char* filterTypeHelp() { return kFilterTypes; }

const char* textureParameterHelp()
{
    static const std::string text = std::string("TexPtex parameters with numbered values:\n") +
                                    " filter_type (default 0):\n" + kFilterTypes + " alpha_type (default -1):\n" +
                                    kAlphaTypes + " color_space (default 1):\n" + kColorSpaces;
    return text.c_str();
}

}  // namespace tarsk::cli
