// Render threads fetch and release list handles of one parameter at the same time, and report
// through one message log; reference counts and the log must stay exact.
#include <tarsk/TarskMessageLog.h>
#include <tarsk/TarskPluginParameter.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace TUtils;

TEST(SharedListConcurrency, HandlesFetchedAndReleasedFromManyThreads)
{
    TarskPluginParameter faces("faces");
    faces.setIntList(0.0, {0, 1, 2, 2, 1, 3});
    TarskMessageLog log(false, true);
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&faces, &log, t] {
            long sum = 0;
            for (int round = 0; round < kRounds; ++round) {
                ListRef<int32_t> ref = faces.getIntList(0.0);
                for (int32_t i = 0; i < ref.count; ++i) sum += ref.data[i];
                ref.release();
            }
            log.reportInfo("thread %d sum %ld", t, sum);
        });
    }
    for (std::thread& thread : threads) thread.join();

    ListRef<int32_t> ref = faces.getIntList(0.0);
    EXPECT_EQ(ref.owner->useCount(), 2) << "every handle gave its reference back";
    ref.release();
    const auto messages = log.messages();
    ASSERT_EQ(messages.size(), static_cast<size_t>(kThreads));
    for (const auto& message : messages) EXPECT_NE(message.text.find("sum 18000"), std::string::npos) << message.text;
}
