// Render threads sample one TexPtex instance at once, each with its own thread record, while
// interfaces are looked up; the instance must answer consistently and without data races.
#include "PluginInstance.h"
#include "PluginLibrary.h"

#include <tarsk/ShadingContext.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace TUtils;

TEST(TexPtexConcurrency, EvaluatesFromManyThreadsAtOnce)
{
    TarskPluginHost host;
    std::string error;
    auto library = PluginLibrary::load(TEXPTEX_MODULE, host, error);
    ASSERT_NE(library, nullptr) << error;
    PluginInstance instance(*library->plugins()[0]);
    ASSERT_TRUE(instance.valid());
    TextureInterface* texture = instance.texture();
    ASSERT_NE(texture, nullptr);

    constexpr int kThreads = 4;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ShadingThread record{100 + t, t};
            ShadingContext context;
            context.thread = &record;
            for (int i = 0; i < 2000; ++i) {
                context.cacheSlot = i % 17;
                context.cacheKey = static_cast<uint32_t>(i + 1);
                const Color c = instance.plugin()->getInterface(TextureInterface::kInterfaceId) == texture
                                    ? texture->evalColor(context)
                                    : Color{0, 0, 0, 0};
                if (!(c == Color{1.0f, 1.0f, 1.0f, 1.0f})) wrong.fetch_add(1);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}
