#include "LibDesc.h"
#include "TexPtex.h"
#include "TexPtexParams.h"
#include "UserPluginDesc.h"

#include <tarsk/PluginEntry.h>
#include <tarsk/ShadingContext.h>
#include <tarsk/TarskParameterList.h>
#include <tarsk/TarskRenderer.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace TUtils;

namespace {

struct Row {
    const char* name;
    TarskParameterType type;
    bool isOutput;
    const char* defaultValue;  // as text; null for lists and the output
    int32_t intArg;
    const char* description;  // null where the table registers none
};

// The table as scenes and hosts must see it, in registration order.
const Row kTable[] = {
    {"ptex_file", TARSK_PARAM_STRING, false, "", -1, "The Ptex texture file"},
    {"filter_type", TARSK_PARAM_INT, false, "0", -1, "Type of filter used for the texture"},
    {"width", TARSK_PARAM_FLOAT, false, "1", -1, "width parameter used for filtering"},
    {"blur", TARSK_PARAM_FLOAT, false, "0", -1, "blur parameter used for filtering"},
    {"sharpness", TARSK_PARAM_FLOAT, false, "0", -1, "Sharpness parameter for the general bicubic filter"},
    {"lerp", TARSK_PARAM_BOOL, false, "0", -1, "Interpolation between mipmap levels"},
    {"reverse_vertices", TARSK_PARAM_BOOL, false, "0", -1, "Reverses the order of vertices"},
    {"cache_size", TARSK_PARAM_INT, false, "1", -1, "The size of the texture cache(in MB)"},
    {"r_channel", TARSK_PARAM_INT, false, "0", -1, "The index of the channel which will be used as a red channel."},
    {"g_channel", TARSK_PARAM_INT, false, "1", -1, "The index of the channel which will be used as a green channel."},
    {"b_channel", TARSK_PARAM_INT, false, "2", -1, "The index of the channel which will be used as a blue channel."},
    {"a_channel", TARSK_PARAM_INT, false, "-1", -1, "The index of the channel which will be used as a alpha channel."},
    {"auto_color", TARSK_PARAM_BOOL, false, "1", -1, "Use automatic color channel selection."},
    {"auto_alpha", TARSK_PARAM_BOOL, false, "1", -1, "Use automatic alpha channel selection."},
    {"alpha_type", TARSK_PARAM_INT, false, "-1", -1, "Where to take the alpha from."},
    {"color_space", TARSK_PARAM_INT, false, "1", -1, "0 - linear, 1 - gamma corrected, 2 - sRGB"},
    {"gamma", TARSK_PARAM_FLOAT, false, "1", -1, nullptr},
    {"vertices", TARSK_PARAM_VECTOR_LIST, false, nullptr, 0, nullptr},
    {"origFaces", TARSK_PARAM_INT_LIST, false, nullptr, 0, nullptr},
    {"faces", TARSK_PARAM_INT_LIST, false, nullptr, 0, nullptr},
    {"origFacesDegree", TARSK_PARAM_INT_LIST, false, nullptr, 0, nullptr},
    {"color", TARSK_PARAM_TEXTURE, true, nullptr, 0, "The final texture color"},
};

std::string defaultAsText(const TarskParameterInfo& info)
{
    switch (info.type) {
    case TARSK_PARAM_STRING: return info.defaultString.c_str() ? info.defaultString.c_str() : "(no text)";
    case TARSK_PARAM_INT:
    case TARSK_PARAM_BOOL: return std::to_string(info.defaultInt);
    case TARSK_PARAM_FLOAT:
        return std::to_string(static_cast<int>(info.defaultFloat)) +
               (info.defaultFloat == static_cast<int>(info.defaultFloat) ? "" : "+");
    default: return "(none)";
    }
}

struct PluginDeleter {
    void operator()(PluginBase* plugin) const { texPtexPluginDesc()->deletePlugin(plugin); }
};
using Instance = std::unique_ptr<PluginBase, PluginDeleter>;

TexPtex* asTexPtex(PluginBase* plugin) { return static_cast<TexPtex*>(static_cast<Plugin*>(plugin)); }

}  // namespace

TEST(TexPtexParams, TableIsExactlyTheRegisteredRows)
{
    TexPtexParams params;
    ASSERT_EQ(params.numParams(), static_cast<int>(std::size(kTable)));
    for (int i = 0; i < params.numParams(); ++i) {
        const Row& row = kTable[i];
        const TarskParameterInfo& info = params.param(i);
        SCOPED_TRACE(row.name);
        EXPECT_EQ(info.name, row.name);
        EXPECT_EQ(info.type, row.type);
        EXPECT_EQ(info.isOutput, row.isOutput);
        EXPECT_EQ(info.hasDefault, row.defaultValue != nullptr);
        if (row.defaultValue) {
            EXPECT_EQ(defaultAsText(info), row.defaultValue);
        }
        if (!row.isOutput) {
            EXPECT_EQ(info.intArg, row.intArg);
        }
        if (row.description) {
            EXPECT_STREQ(info.description.c_str(), row.description);
        } else {
            EXPECT_FALSE(info.description.hasText());
        }
        EXPECT_FALSE(info.extra.hasText()) << "the trailing text is null throughout";
    }
}

TEST(TexPtex, DefaultsReachTheBoundMembers)
{
    Instance plugin(texPtexPluginDesc()->newPlugin(nullptr));
    ASSERT_NE(plugin, nullptr);
    const TexPtex& tex = *asTexPtex(plugin.get());
    ASSERT_TRUE(tex.ptex_file.hasText()) << "the default, an empty text, is written at binding";
    EXPECT_STREQ(tex.ptex_file.c_str(), "");
    EXPECT_EQ(tex.filter_type, 0);
    EXPECT_EQ(tex.width, 1.0f);
    EXPECT_EQ(tex.blur, 0.0f);
    EXPECT_EQ(tex.sharpness, 0.0f);
    EXPECT_EQ(tex.lerp, 0);
    EXPECT_EQ(tex.reverse_vertices, 0);
    EXPECT_EQ(tex.cache_size, 1);
    EXPECT_EQ(tex.r_channel, 0);
    EXPECT_EQ(tex.g_channel, 1);
    EXPECT_EQ(tex.b_channel, 2);
    EXPECT_EQ(tex.a_channel, -1);
    EXPECT_NE(tex.auto_color, 0);
    EXPECT_NE(tex.auto_alpha, 0);
    EXPECT_EQ(tex.alpha_type, -1);
    EXPECT_EQ(tex.color_space, 1);
    EXPECT_EQ(tex.gamma, 1.0f);
    EXPECT_FALSE(tex.ready);
    EXPECT_EQ(tex.texture, nullptr);
    EXPECT_EQ(tex.filters, nullptr);
    EXPECT_EQ(tex.numFilters, 0);
    EXPECT_EQ(tex.mesh, nullptr);
    EXPECT_EQ(tex.threadCaches, nullptr);
    EXPECT_EQ(tex.numThreadCaches, 0);
    EXPECT_EQ(tex.getParameterList()->getOutputParam("color"), static_cast<const TextureInterface*>(&tex));
}

TEST(TexPtex, SceneValuesReachEveryBoundMember)
{
    Instance plugin(texPtexPluginDesc()->newPlugin(nullptr));
    TexPtex& tex = *asTexPtex(plugin.get());
    struct IntCase {
        const char* name;
        int32_t value;
        const int32_t* member;
    };
    const IntCase ints[] = {
        {"filter_type", 3, &tex.filter_type},
        {"cache_size", 64, &tex.cache_size},
        {"r_channel", 5, &tex.r_channel},
        {"g_channel", 6, &tex.g_channel},
        {"b_channel", 7, &tex.b_channel},
        {"a_channel", 8, &tex.a_channel},
        {"alpha_type", 2, &tex.alpha_type},
        {"color_space", 2, &tex.color_space},
        // bool parameters: any non-zero int counts as true, and readers see it as stored
        {"lerp", 2, &tex.lerp},
        {"reverse_vertices", -1, &tex.reverse_vertices},
        {"auto_color", 0, &tex.auto_color},
        {"auto_alpha", 77, &tex.auto_alpha},
    };
    for (const IntCase& c : ints) {
        TarskPluginParameter param(c.name);
        param.setInt(0.0, c.value);
        EXPECT_EQ(tex.setParameter(&param), 1) << c.name;
        EXPECT_EQ(*c.member, c.value) << c.name;
    }
    const std::pair<const char*, const float*> floats[] = {
        {"width", &tex.width}, {"blur", &tex.blur}, {"sharpness", &tex.sharpness}, {"gamma", &tex.gamma}};
    float value = 0.125f;
    for (const auto& [name, member] : floats) {
        TarskPluginParameter param(name);
        param.setFloat(0.0, value);
        EXPECT_EQ(tex.setParameter(&param), 1) << name;
        EXPECT_EQ(*member, value) << name;
        value *= 2.0f;
    }
    TarskPluginParameter lerpBool("lerp");
    lerpBool.setBool(0.0, true);
    EXPECT_EQ(tex.setParameter(&lerpBool), 1);
    EXPECT_EQ(tex.lerp, 1);

    // Keyed values: the bound members hold the value at the frame's time after frameBegin.
    TarskPluginParameter file("ptex_file");
    file.setString(0.0, "a.ptx");
    file.setString(10.0, "b.ptx");
    EXPECT_EQ(tex.setParameter(&file), 1);
    EXPECT_STREQ(tex.ptex_file.c_str(), "a.ptx");
    TarskRenderer renderer(2, 12.0, nullptr);
    tex.TarskPluginInterface::frameBegin(&renderer);
    EXPECT_STREQ(tex.ptex_file.c_str(), "b.ptx");

    // Mesh lists are not bound: they are found by name.
    TarskPluginParameter faces("faces");
    faces.setIntList(0.0, {0, 1, 2});
    EXPECT_EQ(tex.setParameter(&faces), 1);
    ASSERT_NE(tex.getParameter("faces"), nullptr);
    EXPECT_EQ(tex.getParameter("vertices"), nullptr);
}

TEST(TexPtex, AnInstanceIsThreePartsThenItsMembers)
{
    Instance plugin(texPtexPluginDesc()->newPlugin(nullptr));
    TexPtex* tex = asTexPtex(plugin.get());
    auto* pluginPart = reinterpret_cast<const char*>(plugin.get());
    auto* interfacePart = reinterpret_cast<const char*>(plugin->getInterface(TarskPluginInterface::kInterfaceId));
    auto* texturePart = reinterpret_cast<const char*>(plugin->getInterface(TextureInterface::kInterfaceId));
    EXPECT_EQ(pluginPart, reinterpret_cast<const char*>(tex)) << "newPlugin answers the start of the object";
    EXPECT_LT(pluginPart, interfacePart);
    EXPECT_LT(interfacePart, texturePart);
    EXPECT_LT(texturePart, reinterpret_cast<const char*>(&tex->ptex_file));
    EXPECT_LT(reinterpret_cast<const char*>(&tex->gamma), reinterpret_cast<const char*>(&tex->invGamma));
    EXPECT_LT(reinterpret_cast<const char*>(&tex->faces), reinterpret_cast<const char*>(&tex->ready));
}

TEST(TexPtex, NotReadyAnswersOpaqueWhiteAndTheRangeIsZeroToOne)
{
    Instance plugin(texPtexPluginDesc()->newPlugin(nullptr));
    auto* texture = static_cast<TextureInterface*>(plugin->getInterface(TextureInterface::kInterfaceId));
    ShadingContext context;
    const Color white = texture->evalColor(context);
    EXPECT_EQ(white, (Color{1.0f, 1.0f, 1.0f, 1.0f}));
    float low[4] = {9, 9, 9, 9}, high[4] = {9, 9, 9, 9};
    texture->getColorRange(low, high);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(low[i], 0.0f);
        EXPECT_EQ(high[i], 1.0f);
    }
    texture->getColorRange(nullptr, nullptr);
    EXPECT_EQ(texture->evalVector(context).y, 0.0f);
}

TEST(TexPtexLibrary, EntryPointAndDescriptors)
{
    PluginLibDesc* lib = getLibDesc();
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(getLibDesc(), lib);
    EXPECT_STREQ(lib->getName(), "TexPtex");
    EXPECT_STREQ(lib->getDescription(), "Ptex texture for Tarsk");
    UserPluginDesc* desc = texPtexPluginDesc();
    EXPECT_EQ(desc->getPluginID(), 20100607000ull);
    EXPECT_STREQ(desc->getName(), "TexPtex");
    EXPECT_NE(desc->getParamListDesc(), nullptr);
    EXPECT_EQ(desc->getExtension(), nullptr);
    desc->deletePlugin(nullptr);
}
