#include <tarsk/PluginRegistry.h>
#include <tarsk/TarskParameterListDesc.h>
#include <tarsk/TarskPluginDesc.h>
#include <tarsk/TarskPluginHost.h>

#include <gtest/gtest.h>

using namespace TUtils;

namespace {

class NamedDesc : public TarskPluginDesc {
public:
    NamedDesc(const char* name, uint64_t id, TarskParameterListDesc* params)
        : TarskPluginDesc(params), name(name), id(id)
    {}
    uint64_t getPluginID() override { return id; }
    PluginBase* newPlugin(TarskPluginHost*) override { return nullptr; }
    void deletePlugin(PluginBase*) override {}
    int32_t supportsInterface(uint64_t) override { return 0; }
    const char* getName() override { return name; }

private:
    const char* name;
    uint64_t id;
};

}  // namespace

TEST(TarskPluginHost, RegistersDescriptorsWithTheirTables)
{
    TarskParameterListDesc table;
    NamedDesc withTable("A", 1, &table);
    NamedDesc without("B", 0x100000001ull, nullptr);
    TarskPluginHost host;

    withTable.registerParameters(&host);
    without.registerParameters(&host);
    withTable.registerParameters(nullptr);
    ASSERT_EQ(host.entries().size(), 2u);
    EXPECT_EQ(host.findByName("A")->params, &table);
    EXPECT_EQ(host.findByName("B")->params, nullptr);
    EXPECT_EQ(host.findById(1)->desc, &withTable);
    EXPECT_EQ(host.findById(0x100000001ull)->desc, &without);
    EXPECT_EQ(host.findById(0x200000001ull), nullptr) << "ids compare on all 64 bits";
    EXPECT_EQ(host.findByName("C"), nullptr);
    EXPECT_EQ(host.findByName(nullptr), nullptr);

    EXPECT_EQ(host.registerDesc(&withTable), 0) << "a descriptor is registered once";
    EXPECT_EQ(host.registerDesc(nullptr), 0);
    EXPECT_EQ(table.registerParameters(&host, nullptr), 0);
    EXPECT_EQ(table.registerParameters(nullptr, &withTable), 0);

    withTable.unregisterParameters(&host);
    withTable.unregisterParameters(nullptr);
    EXPECT_EQ(host.findByName("A"), nullptr);
    EXPECT_EQ(host.unregisterDesc(&withTable), 0);
    EXPECT_EQ(host.entries().size(), 1u);
}

TEST(PluginRegistry, TakesEachDescriptorOnce)
{
    NamedDesc a("A", 1, nullptr);
    PluginRegistry registry;
    EXPECT_EQ(registry.registerPlugin(&a), 1);
    EXPECT_EQ(registry.registerPlugin(&a), 0);
    EXPECT_EQ(registry.registerPlugin(nullptr), 0);
    ASSERT_EQ(registry.plugins().size(), 1u);
    EXPECT_EQ(registry.plugins()[0], &a);
}
