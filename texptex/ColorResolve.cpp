#include "ColorResolve.h"

#include <cmath>

namespace {

// One component taken from channel `index`, or the constant `value` where it has no channel.
void take(ColorPlan& plan, int i, int32_t index) noexcept { plan.source[i] = index; }
void fix(ColorPlan& plan, int i, float value) noexcept
{
    plan.source[i] = -1;
    plan.constant[i] = value;
}

void chooseColor(const ColorSettings& s, ColorPlan& plan) noexcept
{
    const int32_t n = s.numChannels;
    if (!s.autoColor) {
        // An index outside the file's channels leaves the component at its full value 1.
        const int32_t picked[3] = {s.rChannel, s.gChannel, s.bChannel};
        for (int i = 0; i < 3; ++i) {
            if (picked[i] >= 0 && picked[i] < n)
                take(plan, i, picked[i]);
            else
                fix(plan, i, 1.0f);
        }
        return;
    }
    const int32_t a = s.alphaChannel;
    int32_t rgb[3] = {-1, -1, -1};  // -1: a layout the automatic choice does not know, black
    if (a < 0) {
        // Without alpha only an exact three-channel layout is read as colour; anything else
        // (four or more channels included) is grey from channel 0.
        if (n == 3)
            rgb[0] = 0, rgb[1] = 1, rgb[2] = 2;
        else if (n > 0)
            rgb[0] = rgb[1] = rgb[2] = 0;
    } else if (n == 4 && a == 0) {
        rgb[0] = 1, rgb[1] = 2, rgb[2] = 3;
    } else if (n == 4 && a == 3) {
        rgb[0] = 0, rgb[1] = 1, rgb[2] = 2;
    } else if (n == 2 && (a == 0 || a == 1)) {
        rgb[0] = rgb[1] = rgb[2] = 1 - a;  // grey from the channel that is not alpha
    }
    for (int i = 0; i < 3; ++i) {
        if (rgb[i] >= 0)
            take(plan, i, rgb[i]);
        else
            fix(plan, i, 0.0f);
    }
}

float toLinear(float x, const ColorPlan& plan) noexcept
{
    switch (plan.colorSpace) {
    case 1:
        // Raised to 1 / gamma; values at or below 0.001 (negatives included) stay as they are.
        return x > 0.001f ? std::pow(x, plan.invGamma) : x;
    case 2: return x < 0.04045f ? x / 12.92f : std::pow((x + 0.055f) / 1.055f, 2.4f);
    default: return x;
    }
}

}  // namespace

ColorPlan planColor(const ColorSettings& s) noexcept
{
    ColorPlan plan;
    chooseColor(s, plan);
    // Colour space 0 is linear already, 1 without an active gamma is left as it is, and values
    // past 2 get no conversion.
    plan.colorSpace = s.colorSpace;
    plan.invGamma = s.invGamma;
    plan.convert = (s.colorSpace == 1 && s.gammaActive) || s.colorSpace == 2;

    if (s.alphaType == 0) {
        plan.alpha = ColorPlan::Alpha::zero;
    } else if (s.alphaType == 1 && !s.autoAlpha && s.aChannel >= 0 && s.aChannel < s.numChannels) {
        plan.alpha = ColorPlan::Alpha::channel;
        plan.alphaSource = s.aChannel;
    } else if (s.alphaType == 1 && s.autoAlpha && s.alphaChannel >= 0 && s.alphaChannel < s.numChannels) {
        plan.alpha = ColorPlan::Alpha::channel;
        plan.alphaSource = s.alphaChannel;
    } else {
        plan.alpha = ColorPlan::Alpha::luminance;
    }
    return plan;
}

void convertToLinear(float rgb[3], const ColorPlan& plan) noexcept
{
    for (int i = 0; i < 3; ++i) rgb[i] = toLinear(rgb[i], plan);
}
