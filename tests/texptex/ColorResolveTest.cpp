#include "ColorResolve.h"

#include <gtest/gtest.h>

#include <cmath>

using TUtils::Color;

namespace {

const float kChannels[8] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f};

ColorSettings linearAuto(int n, int alpha)
{
    ColorSettings s;
    s.numChannels = n;
    s.alphaChannel = alpha;
    s.colorSpace = 0;
    s.alphaType = 0;
    return s;
}

}  // namespace

TEST(ColorResolve, AutomaticChannelChoiceFollowsTheFileLayout)
{
    struct Case {
        int n, alpha;
        float r, g, b;
    };
    const float c0 = kChannels[0], c1 = kChannels[1], c2 = kChannels[2], c3 = kChannels[3];
    const Case cases[] = {
        {1, -1, c0, c0, c0}, {2, -1, c0, c0, c0}, {3, -1, c0, c1, c2}, {4, -1, c0, c0, c0}, {8, -1, c0, c0, c0},
        {4, 3, c0, c1, c2},  {4, 0, c1, c2, c3},  {4, 1, 0, 0, 0},     {4, 2, 0, 0, 0},     {2, 1, c0, c0, c0},
        {2, 0, c1, c1, c1},  {3, 2, 0, 0, 0},     {1, 0, 0, 0, 0},     {5, 4, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const Color out = resolveColor(kChannels, linearAuto(c.n, c.alpha));
        EXPECT_EQ(out.r, c.r) << "n " << c.n << " alpha " << c.alpha;
        EXPECT_EQ(out.g, c.g) << "n " << c.n << " alpha " << c.alpha;
        EXPECT_EQ(out.b, c.b) << "n " << c.n << " alpha " << c.alpha;
    }
}

TEST(ColorResolve, ExplicitChannelsOutsideTheFileGiveFullComponents)
{
    ColorSettings s = linearAuto(3, -1);
    s.autoColor = false;
    s.rChannel = -1;
    s.gChannel = 3;  // equal to n
    s.bChannel = 0;
    const Color out = resolveColor(kChannels, s);
    EXPECT_EQ(out.r, 1.0f);
    EXPECT_EQ(out.g, 1.0f);
    EXPECT_EQ(out.b, kChannels[0]);
}

TEST(ColorResolve, ColourSpacesConvertEachComponent)
{
    ColorSettings s = linearAuto(1, -1);
    auto grey = [&](float x) {
        const float v[1] = {x};
        return resolveColor(v, s).r;
    };
    s.colorSpace = 2;
    EXPECT_FLOAT_EQ(grey(0.04f), 0.04f / 12.92f);
    EXPECT_NEAR(grey(0.04045f), 0.0031308f, 1e-6f) << "the threshold itself takes the power branch";
    EXPECT_FLOAT_EQ(grey(1.0f), 1.0f);
    EXPECT_NEAR(grey(0.5f), 0.21404f, 1e-5f);
    s.colorSpace = 1;
    s.gammaActive = true;
    s.invGamma = 1.0f / 2.2f;
    EXPECT_NEAR(grey(0.5f), 0.72974f, 1e-5f) << "raised to 1 / gamma";
    EXPECT_EQ(grey(0.001f), 0.001f);
    EXPECT_EQ(grey(0.0f), 0.0f);
    EXPECT_EQ(grey(-0.5f), -0.5f);
    s.gammaActive = false;
    EXPECT_EQ(grey(0.5f), 0.5f);
    s.colorSpace = 3;
    s.gammaActive = true;
    EXPECT_EQ(grey(0.5f), 0.5f);
    s.colorSpace = 0;
    EXPECT_EQ(grey(0.5f), 0.5f);
}

TEST(ColorResolve, AlphaFromChannelsOrLuminanceOfTheConvertedColour)
{
    const float red[3] = {1, 0, 0};
    const float green[3] = {0, 1, 0};
    ColorSettings s = linearAuto(3, -1);
    s.alphaType = 0;
    EXPECT_EQ(resolveColor(red, s).a, 0.0f);
    s.alphaType = 2;
    EXPECT_FLOAT_EQ(resolveColor(red, s).a, 0.3f);
    s.alphaType = 1;  // automatic alpha, no alpha channel: luminance
    EXPECT_FLOAT_EQ(resolveColor(green, s).a, 0.59f);

    // Alpha from a channel is never converted; luminance uses the converted colour.
    const float rgba[4] = {0.5f, 0.5f, 0.5f, 0.25f};
    s = linearAuto(4, 3);
    s.colorSpace = 2;
    s.alphaType = 1;
    EXPECT_EQ(resolveColor(rgba, s).a, 0.25f);
    s.alphaType = -1;
    const Color lum = resolveColor(rgba, s);
    EXPECT_FLOAT_EQ(lum.a, luminance(lum.r, lum.g, lum.b));
    EXPECT_NEAR(lum.a, 0.21404f, 1e-5f);

    s.autoAlpha = false;
    s.alphaType = 1;
    s.aChannel = 0;
    EXPECT_EQ(resolveColor(rgba, s).a, 0.5f);
    s.aChannel = 4;  // outside the file: luminance
    EXPECT_NEAR(resolveColor(rgba, s).a, 0.21404f, 1e-5f);
}
