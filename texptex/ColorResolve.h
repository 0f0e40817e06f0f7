// ColorResolve: turns the channel values of one filter evaluation into the returned colour: which
// channels are red, green, blue (by index or by the file's channel layout), conversion of the
// colour from the file's colour space to linear values, and alpha.
#pragma once

#include <tarsk/Color.h>

#include <cstdint>

// The settings that pick and convert the colour: the instance's parameters, the file's channel
// layout and the gamma values fixed at frame start.
struct ColorSettings {
    int32_t numChannels = 0;    // n: channels the filter wrote
    int32_t alphaChannel = -1;  // a: the file's alpha channel, -1 for none
    int32_t rChannel = 0, gChannel = 1, bChannel = 2, aChannel = -1;
    bool autoColor = true;
    bool autoAlpha = true;
    int32_t alphaType = -1;
    int32_t colorSpace = 1;  // 0 linear, 1 gamma corrected, 2 sRGB, others: no conversion
    bool gammaActive = false;
    float invGamma = 1.0f;
};

inline float luminance(float r, float g, float b) noexcept { return 0.3f * r + 0.59f * g + 0.11f * b; }

// ColorSettings decided once: which channel (or constant) each of red, green, blue and alpha
// comes from and whether a conversion applies. None of it depends on the channel values, so the
// evaluation makes the plan at frame start and only copies and converts per shading point.
struct ColorPlan {
    enum class Alpha : int32_t { zero, channel, luminance };

    int32_t source[3] = {-1, -1, -1};  // channel of r, g, b; -1 takes `constant`
    float constant[3] = {0.0f, 0.0f, 0.0f};
    bool convert = false;  // a conversion that is not the identity applies
    int32_t colorSpace = 0;
    float invGamma = 1.0f;
    Alpha alpha = Alpha::zero;
    int32_t alphaSource = -1;  // for Alpha::channel
};

ColorPlan planColor(const ColorSettings& settings) noexcept;

// r, g, b to linear values for a plan with `convert` set.
void convertToLinear(float rgb[3], const ColorPlan& plan) noexcept;

// The colour for `channelValues` (at least settings.numChannels values). Pure; safe on every
// render thread at once.
inline TUtils::Color resolveColor(const float* channelValues, const ColorPlan& plan) noexcept
{
    float rgb[3];
    for (int i = 0; i < 3; ++i) {
        const int32_t c = plan.source[i];
        rgb[i] = c >= 0 ? channelValues[c] : plan.constant[i];
    }
    if (plan.convert) convertToLinear(rgb, plan);
    // Alpha from a channel is taken as stored; alpha from luminance uses the converted colour.
    float alpha = 0.0f;
    if (plan.alpha == ColorPlan::Alpha::channel)
        alpha = channelValues[plan.alphaSource];
    else if (plan.alpha == ColorPlan::Alpha::luminance)
        alpha = luminance(rgb[0], rgb[1], rgb[2]);
    return TUtils::Color{rgb[0], rgb[1], rgb[2], alpha};
}

inline TUtils::Color resolveColor(const float* channelValues, const ColorSettings& settings) noexcept
{
    return resolveColor(channelValues, planColor(settings));
}
