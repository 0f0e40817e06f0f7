// TextureParameterHelp: the values of the TexPtex parameters that take numbered choices
// ("filter_type", "alpha_type", "color_space"), written once for every program's --help and
// matching the plug-in's behaviour and the README's parameter table.
#pragma once

namespace tarsk::cli {

// The Ptex filter types by number, as "filter_type" and ptex-eval's "filter" column take them
// (lines indented by two spaces, ending in '\n').
const char* filterTypeHelp();

// "filter_type", "alpha_type" and "color_space" with their values and defaults, for programs
// that read scenes (same layout).
const char* textureParameterHelp();

}  // namespace tarsk::cli
