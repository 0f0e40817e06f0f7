#include <tarsk/ShadingContext.h>
#include <tarsk/TarskParameterList.h>
#include <tarsk/TarskParameterListDesc.h>
#include <tarsk/TarskPlugin.h>
#include <tarsk/TarskPluginDesc.h>
#include <tarsk/TarskRenderer.h>

#include <gtest/gtest.h>

using namespace TUtils;

namespace {

int liveTextures = 0;

class CountedTexture : public TarskTexture {
public:
    explicit CountedTexture(TarskPluginDesc* desc) : TarskTexture(desc)
    {
        ++liveTextures;
        if (paramList) paramList->setParamCache("level", &level);
    }
    ~CountedTexture() override { --liveTextures; }
    Color evalColor(ShadingContext&) override { return Color{0.25f, 0.5f, 0.75f, 1.0f}; }
    void getColorRange(float*, float*) override {}
    int32_t level = -1;
};

class Table : public TarskParameterListDesc {
public:
    Table() { addParamInt("level", 4, -1, nullptr, nullptr); }
};

class Desc : public TarskPluginDesc {
public:
    using TarskPluginDesc::TarskPluginDesc;
    uint64_t getPluginID() override { return 5; }
    PluginBase* newPlugin(TarskPluginHost*) override { return static_cast<Plugin*>(new CountedTexture(this)); }
    void deletePlugin(PluginBase* plugin) override { delete plugin; }
    int32_t supportsInterface(uint64_t) override { return 0; }
    const char* getName() override { return "Counted"; }
};

}  // namespace

TEST(TarskTexture, PartsFindEachOtherAndDeleteAsOneObject)
{
    Table table;
    Desc desc(&table);
    const int listsBefore = TarskParameterList::liveCount();
    PluginBase* plugin = desc.newPlugin(nullptr);
    ASSERT_EQ(liveTextures, 1);
    EXPECT_EQ(TarskParameterList::liveCount(), listsBefore + 1);

    PluginInterface* texturePart = plugin->getInterface(TextureInterface::kInterfaceId);
    PluginInterface* pluginPart = plugin->getInterface(TarskPluginInterface::kInterfaceId);
    ASSERT_NE(texturePart, nullptr);
    ASSERT_NE(pluginPart, nullptr);
    EXPECT_NE(static_cast<void*>(texturePart), static_cast<void*>(pluginPart));
    EXPECT_EQ(texturePart->getPlugin(), plugin);
    EXPECT_EQ(pluginPart->getPlugin(), plugin);
    EXPECT_STREQ(texturePart->getInterfaceName(), "EXT_TEXTURE");
    EXPECT_STREQ(pluginPart->getInterfaceName(), "EXT_TARSK_PLUGIN");
    EXPECT_EQ(texturePart->getInterfaceID(), 0x77780002u);
    EXPECT_EQ(pluginPart->getInterfaceID(), 0x7776FFFFu);
    EXPECT_EQ(plugin->getInterface(0x100000000ull | TextureInterface::kInterfaceId), nullptr);
    EXPECT_EQ(static_cast<Plugin*>(plugin)->getPluginDesc(), &desc);
    texturePart->release();  // no reference counting: nothing happens
    EXPECT_EQ(liveTextures, 1);

    ShadingContext context;
    EXPECT_EQ(static_cast<TextureInterface*>(texturePart)->evalVector(context).x, 0.0f);

    // The parameter forwarding and the host's default frameBegin, which samples keyed values.
    auto* tarskPart = static_cast<TarskPluginInterface*>(pluginPart);
    auto* texture =
        static_cast<CountedTexture*>(static_cast<TarskTexture*>(static_cast<TextureInterface*>(texturePart)));
    EXPECT_EQ(texture->level, 4);
    TarskPluginParameter level("level");
    level.setInt(0.0, 10);
    level.setInt(24.0, 20);
    EXPECT_EQ(tarskPart->setParameter(&level), 1);
    EXPECT_EQ(texture->level, 10);
    TarskRenderer renderer(2, 30.0, nullptr);
    tarskPart->frameBegin(&renderer);
    EXPECT_EQ(texture->level, 20);
    tarskPart->frameBegin(nullptr);
    EXPECT_EQ(tarskPart->getParameter("level")->numKeys(), 2);
    EXPECT_EQ(tarskPart->getParameter("nosuch"), nullptr);

    // Deleting through the texture part's virtual destructor frees the whole object once and
    // gives its parameter list back.
    delete static_cast<TextureInterface*>(texturePart);
    EXPECT_EQ(liveTextures, 0);
    EXPECT_EQ(TarskParameterList::liveCount(), listsBefore);
}

TEST(TarskTexture, WithoutATableThereIsNoParameterList)
{
    Desc desc(nullptr);
    CountedTexture texture(&desc);
    TarskPluginParameter level("level");
    level.setInt(0.0, 1);
    EXPECT_EQ(texture.getParameterList(), nullptr);
    EXPECT_EQ(texture.setParameter(&level), 0);
    EXPECT_EQ(texture.getParameter("level"), nullptr);
    EXPECT_EQ(texture.level, -1);

    CountedTexture orphan(nullptr);
    EXPECT_EQ(orphan.getParameterList(), nullptr);
    EXPECT_EQ(orphan.getPluginDesc(), nullptr);
    TarskRenderer renderer(0, 0.0, nullptr);
    EXPECT_EQ(renderer.numThreads(), 1) << "a render has at least one thread";
    orphan.frameBegin(&renderer);
}
