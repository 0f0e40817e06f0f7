#include <tarsk/Plugin.h>
#include <tarsk/PluginBase.h>
#include <tarsk/PluginInterface.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// An interface with a chosen id that records its release() calls in a shared journal.
class JournalInterface : public PluginInterface {
public:
    JournalInterface(uint64_t id, std::string tag, std::vector<std::string>* journal, PluginBase* owner = nullptr)
        : id(id), tag(std::move(tag)), journal(journal), owner(owner)
    {}
    uint64_t getInterfaceID() override { return id; }
    PluginBase* getPlugin() override { return owner; }
    void release() override
    {
        journal->push_back(tag);
        PluginInterface::release();
    }

private:
    uint64_t id;
    std::string tag;
    std::vector<std::string>* journal;
    PluginBase* owner;
};

class RecordingPlugin : public Plugin {
public:
    void releaseInterface(PluginInterface* iface) override { released.push_back(iface); }
    std::vector<PluginInterface*> released;
};

}  // namespace

TEST(PluginBase, LookUpIsNewestFirstOnAll64Bits)
{
    std::vector<std::string> journal;
    JournalInterface older(0x77780002u, "older", &journal);
    JournalInterface newer(0x77780002u, "newer", &journal);
    JournalInterface wide(0x177780002ull, "wide", &journal);
    PluginBase base;
    EXPECT_EQ(base.getInterface(0x77780002u), nullptr);
    ASSERT_EQ(base.addInterface(&older, 0), 1);
    ASSERT_EQ(base.addInterface(nullptr, 1), 1) << "null entries are skipped by the look-up";
    ASSERT_EQ(base.addInterface(&newer, 0), 1);
    ASSERT_EQ(base.addInterface(&wide, 0), 1);
    EXPECT_EQ(base.getInterface(0x77780002u), &newer) << "the one added last wins";
    EXPECT_EQ(base.getInterface(0x177780002ull), &wide);
    EXPECT_EQ(base.getInterface(0x277780002ull), nullptr) << "upper 32 bits take part in the match";
    base.releaseInterface(&newer);
    EXPECT_EQ(base.getInterface(0x77780002u), &newer) << "releaseInterface does nothing";
}

TEST(PluginBase, RemoveTakesTheNewestEntryOfAnInterface)
{
    std::vector<std::string> journal;
    JournalInterface twice(1, "twice", &journal);
    {
        PluginBase base;
        base.addInterface(&twice, 1);
        base.addInterface(&twice, 0);
        EXPECT_EQ(base.removeInterface(&twice), 1);
        EXPECT_EQ(base.getInterface(1), &twice) << "the older entry is still there";
        EXPECT_EQ(base.removeInterface(&twice), 1);
        EXPECT_EQ(base.getInterface(1), nullptr);
        EXPECT_EQ(base.removeInterface(&twice), 0);
        EXPECT_EQ(base.removeInterface(nullptr), 0);
    }
    EXPECT_TRUE(journal.empty()) << "removed entries are never released, owned or not";
}

TEST(PluginBase, DestructionReleasesOwnedInterfacesOldestFirst)
{
    std::vector<std::string> journal;
    RecordingPlugin owner;
    JournalInterface a(1, "a", &journal, &owner), b(2, "b", &journal, &owner), c(3, "c", &journal, &owner);
    JournalInterface unowned(4, "unowned", &journal, &owner);
    {
        PluginBase base;
        base.addInterface(&a, 1);
        base.addInterface(&unowned, 0);
        base.addInterface(nullptr, 1);
        base.addInterface(&b, -5);  // any non-zero flag means owned
        base.addInterface(&c, 1);
    }
    EXPECT_EQ(journal, (std::vector<std::string>{"a", "b", "c"}));
    // PluginInterface::release hands the interface to its plug-in's releaseInterface.
    EXPECT_EQ(owner.released, (std::vector<PluginInterface*>{&a, &b, &c}));

    // A long list is torn down without deep recursion.
    JournalInterface many(9, "many", &journal);
    auto* base = new PluginBase;
    for (int i = 0; i < 200000; ++i) base->addInterface(&many, 0);
    delete base;
}

TEST(Plugin, KeepsOnlyTheLatestNameCopy)
{
    Plugin plugin;
    EXPECT_EQ(plugin.pluginName(), nullptr);
    EXPECT_EQ(plugin.getPluginDesc(), nullptr);
    char text[] = "first";
    plugin.setPluginName(text);
    text[0] = 'X';
    EXPECT_STREQ(plugin.pluginName(), "first") << "the object keeps its own copy";
    plugin.setPluginName("second, longer name");
    EXPECT_STREQ(plugin.pluginName(), "second, longer name");
    plugin.setPluginName(nullptr);
    EXPECT_EQ(plugin.pluginName(), nullptr) << "null text leaves no name rather than failing";
}
