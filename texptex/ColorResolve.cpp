#include "ColorResolve.h"

#include <cmath>

namespace {

// An index outside the file's channels leaves the component at its full value 1.
float channelOrOne(const float* values, int32_t index, int32_t n) noexcept
{
    return (index >= 0 && index < n) ? values[index] : 1.0f;
}

void chooseColor(const float* c, const ColorSettings& s, float rgb[3]) noexcept
{
    const int32_t n = s.numChannels;
    if (!s.autoColor) {
        rgb[0] = channelOrOne(c, s.rChannel, n);
        rgb[1] = channelOrOne(c, s.gChannel, n);
        rgb[2] = channelOrOne(c, s.bChannel, n);
        return;
    }
    const int32_t a = s.alphaChannel;
    if (a < 0) {
        // Without alpha only an exact three-channel layout is read as colour; anything else
        // (four or more channels included) is grey from channel 0.
        if (n == 3) {
            rgb[0] = c[0], rgb[1] = c[1], rgb[2] = c[2];
        } else {
            rgb[0] = rgb[1] = rgb[2] = (n > 0 ? c[0] : 0.0f);
        }
        return;
    }
    if (n == 4 && a == 0) {
        rgb[0] = c[1], rgb[1] = c[2], rgb[2] = c[3];
    } else if (n == 4 && a == 3) {
        rgb[0] = c[0], rgb[1] = c[1], rgb[2] = c[2];
    } else if (n == 2 && (a == 0 || a == 1)) {
        rgb[0] = rgb[1] = rgb[2] = c[1 - a];   // grey from the channel that is not alpha
    } else {
        rgb[0] = rgb[1] = rgb[2] = 0.0f;       // a layout the automatic choice does not know
    }
}

float toLinear(float x, const ColorSettings& s) noexcept
{
    switch (s.colorSpace) {
    case 1:
        // Raised to 1 / gamma; values at or below 0.001 (negatives included) stay as they are.
        return (s.gammaActive && x > 0.001f) ? std::pow(x, s.invGamma) : x;
    case 2:
        return x < 0.04045f ? x / 12.92f : std::pow((x + 0.055f) / 1.055f, 2.4f);
    default:
        return x;
    }
}

}  // namespace

TUtils::Color resolveColor(const float* channelValues, const ColorSettings& s) noexcept
{
    float rgb[3];
    chooseColor(channelValues, s, rgb);
    for (float& x : rgb)
        x = toLinear(x, s);

    // Alpha from a channel is taken as stored; alpha from luminance uses the converted colour.
    float alpha;
    if (s.alphaType == 0) {
        alpha = 0.0f;
    } else if (s.alphaType == 1 && !s.autoAlpha && s.aChannel >= 0 && s.aChannel < s.numChannels) {
        alpha = channelValues[s.aChannel];
    } else if (s.alphaType == 1 && s.autoAlpha && s.alphaChannel >= 0 && s.alphaChannel < s.numChannels) {
        alpha = channelValues[s.alphaChannel];
    } else {
        alpha = luminance(rgb[0], rgb[1], rgb[2]);
    }
    return TUtils::Color{rgb[0], rgb[1], rgb[2], alpha};
}
