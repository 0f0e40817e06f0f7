// ColorResolve: turns the channel values of one filter evaluation into the returned colour: which
// channels are red, green, blue (by index or by the file's channel layout), conversion of the
// colour from the file's colour space to linear values, and alpha.
#pragma once

#include <tarsk/Color.h>

#include <cstdint>

// The settings that pick and convert the colour: the instance's parameters, the file's channel
// layout and the gamma values fixed at frame start.
struct ColorSettings {
    int32_t numChannels = 0;     // n: channels the filter wrote
    int32_t alphaChannel = -1;   // a: the file's alpha channel, -1 for none
    int32_t rChannel = 0, gChannel = 1, bChannel = 2, aChannel = -1;
    bool autoColor = true;
    bool autoAlpha = true;
    int32_t alphaType = -1;
    int32_t colorSpace = 1;      // 0 linear, 1 gamma corrected, 2 sRGB, others: no conversion
    bool gammaActive = false;
    float invGamma = 1.0f;
};

inline float luminance(float r, float g, float b) noexcept
{
    return 0.3f * r + 0.59f * g + 0.11f * b;
}

// The colour for `channelValues` (at least settings.numChannels values). Pure; safe on every
// render thread at once.
TUtils::Color resolveColor(const float* channelValues, const ColorSettings& settings) noexcept;
