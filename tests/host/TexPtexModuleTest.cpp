// tarsk_TexPtex.so as a host sees it: loaded through the loader, registered with the host, its
// instances made and deleted through the descriptor and reached through their interfaces.
#include "PluginInstance.h"
#include "PluginLibrary.h"

#include <tarsk/Plugin.h>
#include <tarsk/PluginEntry.h>
#include <tarsk/PluginRegistry.h>
#include <tarsk/TarskParameterList.h>
#include <tarsk/TarskParameterListDesc.h>
#include <tarsk/TarskPluginDesc.h>
#include <tarsk/TarskPluginParameter.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace TUtils;

namespace {

constexpr uint64_t kTexPtexId = 20100607000ull;

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        library = PluginLibrary::load(TEXPTEX_MODULE, host, error);
        ASSERT_NE(library, nullptr) << error;
        ASSERT_EQ(library->plugins().size(), 1u);
        desc = library->plugins()[0];
    }

    TarskPluginHost host;
    std::unique_ptr<PluginLibrary> library;
    PluginDesc* desc = nullptr;
};

// A host-made interface that records its release() calls.
class HostInterface : public PluginInterface {
public:
    HostInterface(uint64_t id, int tag, std::vector<int>* journal) : id(id), tag(tag), journal(journal) {}
    uint64_t getInterfaceID() override { return id; }
    PluginBase* getPlugin() override { return nullptr; }
    void release() override { journal->push_back(tag); }

private:
    uint64_t id;
    int tag;
    std::vector<int>* journal;
};

}  // namespace

TEST_F(ModuleTest, EntryPointAndLibraryDescriptor)
{
    // The same library handle: dlopen of a loaded library answers it without loading again.
    void* handle = dlopen(TEXPTEX_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    auto entry = reinterpret_cast<GetLibDescFunction>(dlsym(handle, kGetLibDescSymbol));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry(), library->libDesc());
    EXPECT_EQ(entry(), entry()) << "the same pointer on every call";
    dlclose(handle);

    PluginLibDesc* lib = library->libDesc();
    EXPECT_STREQ(lib->getName(), "TexPtex");
    EXPECT_STREQ(lib->getDescription(), "Ptex texture for Tarsk");
    EXPECT_EQ(lib->registerPlugins(nullptr), 1) << "a null registry: nothing registered, still 1";
    PluginRegistry registry;
    EXPECT_EQ(lib->registerPlugins(&registry), 1);
    ASSERT_EQ(registry.plugins().size(), 1u);
    EXPECT_EQ(registry.plugins()[0], desc) << "the one static descriptor";
    EXPECT_EQ(lib->getInterface(TextureInterface::kInterfaceId), nullptr);
}

TEST_F(ModuleTest, DescriptorAndItsParameterTableAsRegistered)
{
    EXPECT_EQ(desc->getPluginID(), kTexPtexId);
    EXPECT_STREQ(desc->getName(), "TexPtex");
    EXPECT_EQ(desc->supportsInterface(0x77780002u), 1);
    EXPECT_EQ(desc->supportsInterface(0x7776FFFFu), 1);
    EXPECT_EQ(desc->supportsInterface(0x177780002ull), 0) << "ids compare on all 64 bits";
    EXPECT_EQ(desc->supportsInterface(0xFFFFFFFF7776FFFFull), 0);
    EXPECT_EQ(desc->supportsInterface(2006012001u), 0);

    const TarskPluginHost::Entry* entry = host.findById(kTexPtexId);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->desc, desc);
    ASSERT_NE(entry->params, nullptr);
    const TarskParameterListDesc& params = *entry->params;
    const char* names[] = {
        "ptex_file",        "filter_type", "width",           "blur",        "sharpness", "lerp",
        "reverse_vertices", "cache_size",  "r_channel",       "g_channel",   "b_channel", "a_channel",
        "auto_color",       "auto_alpha",  "alpha_type",      "color_space", "gamma",     "vertices",
        "origFaces",        "faces",       "origFacesDegree", "color"};
    ASSERT_EQ(params.numParams(), 22);
    for (int i = 0; i < 22; ++i) EXPECT_EQ(params.param(i).name, names[i]);
    EXPECT_FALSE(params.findParam("gamma")->description.hasText());
    EXPECT_EQ(params.findParam("vertices")->type, TARSK_PARAM_VECTOR_LIST);
    EXPECT_EQ(params.findParam("faces")->type, TARSK_PARAM_INT_LIST);
    EXPECT_TRUE(params.findParam("color")->isOutput);
    EXPECT_EQ(params.findParam("lerp")->type, TARSK_PARAM_BOOL);
}

TEST_F(ModuleTest, InterfacePartsRoundTripAndDeletionFreesOnce)
{
    const int listsBefore = TarskParameterList::liveCount();
    PluginBase* plugin = desc->newPlugin(&host);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(TarskParameterList::liveCount(), listsBefore + 1);

    PluginInterface* texture = plugin->getInterface(0x77780002u);
    PluginInterface* tarsk = plugin->getInterface(0x7776FFFFu);
    ASSERT_NE(texture, nullptr);
    ASSERT_NE(tarsk, nullptr);
    EXPECT_EQ(texture->getPlugin(), plugin);
    EXPECT_EQ(tarsk->getPlugin(), plugin);
    EXPECT_STREQ(texture->getInterfaceName(), "EXT_TEXTURE");
    EXPECT_STREQ(tarsk->getInterfaceName(), "EXT_TARSK_PLUGIN");
    EXPECT_EQ(texture->getInterfaceID(), 0x77780002u);
    EXPECT_EQ(tarsk->getInterfaceID(), 0x7776FFFFu);
    EXPECT_EQ(plugin->getInterface(0x100000000ull | 0x77780002u), nullptr);
    EXPECT_EQ(plugin->getInterface(0x7776FFFF00000000ull), nullptr);
    EXPECT_EQ(plugin->getInterface(2006012001u), nullptr);
    EXPECT_EQ(static_cast<Plugin*>(plugin)->getPluginDesc(), desc);
    texture->release();
    tarsk->release();
    EXPECT_EQ(plugin->getInterface(0x77780002u), texture) << "release() has no effect on a TexPtex";

    // Parameters set through the instance are type checked by the host's list.
    auto* tarskPart = static_cast<TarskPluginInterface*>(tarsk);
    TarskPluginParameter width("width");
    width.setFloat(0.0, 2.0f);
    EXPECT_EQ(tarskPart->setParameter(&width), 1);
    TarskPluginParameter wrong("width");
    wrong.setString(0.0, "wide");
    EXPECT_EQ(tarskPart->setParameter(&wrong), 0);
    TarskPluginParameter unknown("widht");
    unknown.setFloat(0.0, 2.0f);
    EXPECT_EQ(tarskPart->setParameter(&unknown), 0);
    EXPECT_NE(tarskPart->getParameter("width"), nullptr);
    EXPECT_EQ(tarskPart->getParameter("blur"), nullptr);

    // Deleting through the texture part's virtual destructor: one list given back; the sanitizer
    // build reports any double free or leak of the object.
    delete static_cast<TextureInterface*>(texture);
    EXPECT_EQ(TarskParameterList::liveCount(), listsBefore);

    desc->deletePlugin(nullptr);
    PluginBase* second = desc->newPlugin(nullptr);
    ASSERT_NE(second, nullptr);
    desc->deletePlugin(second);
    EXPECT_EQ(TarskParameterList::liveCount(), listsBefore);
}

TEST_F(ModuleTest, HostAddedInterfacesFollowTheListRules)
{
    std::vector<int> journal;
    HostInterface first(0x55u, 1, &journal), second(0x55u, 2, &journal), unowned(0x66u, 3, &journal);
    HostInterface impostor(0x77780002u, 4, &journal);
    {
        PluginInstance instance(*desc, &host);
        ASSERT_TRUE(instance.valid());
        PluginBase* plugin = instance.plugin();
        ASSERT_EQ(plugin->addInterface(&first, 1), 1);
        ASSERT_EQ(plugin->addInterface(&unowned, 0), 1);
        ASSERT_EQ(plugin->addInterface(&second, 1), 1);
        ASSERT_EQ(plugin->addInterface(&impostor, 0), 1);
        EXPECT_EQ(plugin->getInterface(0x55u), &second) << "the entry added last wins";
        EXPECT_EQ(plugin->getInterface(0x66u), &unowned);
        EXPECT_EQ(plugin->getInterface(0x77780002u), instance.texture()) << "own parts come first";
        EXPECT_NE(instance.texture(), static_cast<PluginInterface*>(&impostor));

        ASSERT_EQ(plugin->addInterface(&second, 0), 1);
        EXPECT_EQ(plugin->removeInterface(&second), 1) << "removes the newer entry of the two";
        EXPECT_EQ(plugin->getInterface(0x55u), &second);
        EXPECT_EQ(plugin->removeInterface(&impostor), 1);
        EXPECT_EQ(plugin->removeInterface(&impostor), 0);
        EXPECT_TRUE(journal.empty());
    }
    EXPECT_EQ(journal, (std::vector<int>{1, 2})) << "owned interfaces released oldest first, once";
}

TEST(TexPtexModule, ExportsOnlyItsEntryPoint)
{
    const std::string command = std::string("nm -D --defined-only '") + TEXPTEX_MODULE + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> defined;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        char address[64], kind[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, kind, name) == 3) defined.insert(name);
    }
    const int status = pclose(pipe);
    if (status != 0 && defined.empty()) GTEST_SKIP() << "nm (binutils) is not available";
    EXPECT_EQ(defined, std::set<std::string>{"getLibDesc"});
}

TEST(TexPtexModule, LoadsAndUnloadsRepeatedly)
{
    const int listsBefore = TarskParameterList::liveCount();
    for (int round = 0; round < 3; ++round) {
        TarskPluginHost host;
        std::string error;
        auto library = PluginLibrary::load(TEXPTEX_MODULE, host, error);
        ASSERT_NE(library, nullptr) << error;
        {
            PluginInstance a(*library->plugins()[0]), b(*library->plugins()[0]);
            EXPECT_TRUE(a.valid() && b.valid());
            EXPECT_NE(a.plugin(), b.plugin());
        }
        library.reset();
        EXPECT_TRUE(host.entries().empty()) << "unloading unregisters the type";
    }
    EXPECT_EQ(TarskParameterList::liveCount(), listsBefore);
}
