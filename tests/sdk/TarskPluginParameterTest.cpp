#include <tarsk/TarskPluginParameter.h>

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <random>

using namespace TUtils;

namespace {

// The value a keyed parameter must answer at `time`: greatest key <= time, else the earliest.
int expectedAt(const std::map<double, int32_t>& keys, double time)
{
    auto after = keys.upper_bound(time);
    return after == keys.begin() ? keys.begin()->second : std::prev(after)->second;
}

}  // namespace

TEST(TarskPluginParameter, KeyedValuesAnswerTheLatestKeyAtOrBeforeTheTime)
{
    std::mt19937 random(1234);
    std::uniform_real_distribution<double> timeIn(-10.0, 10.0);
    for (int round = 0; round < 200; ++round) {
        TarskPluginParameter param("p");
        std::map<double, int32_t> model;
        const int keyCount = 1 + round % 7;
        for (int k = 0; k < keyCount; ++k) {
            // Some keys land on an existing time and must replace its value.
            const double time = (k > 0 && round % 3 == 0) ? model.begin()->first : std::floor(timeIn(random));
            const int32_t value = static_cast<int32_t>(random());
            param.setInt(time, value);
            model[time] = value;
        }
        ASSERT_EQ(param.numKeys(), static_cast<int>(model.size()));
        for (int probe = 0; probe < 20; ++probe) {
            const double time = timeIn(random) * 1.5;
            int32_t got = 0;
            ASSERT_TRUE(param.getInt(time, got));
            EXPECT_EQ(got, expectedAt(model, time)) << "time " << time;
        }
    }
}

TEST(TarskPluginParameter, KindsAreKeptApart)
{
    TarskPluginParameter param("p");
    int32_t i = 7;
    float f = 7.0f;
    CharString s;
    EXPECT_EQ(param.getType(), TARSK_PARAM_NONE);
    EXPECT_FALSE(param.getInt(0, i));
    EXPECT_EQ(i, 7) << "a failed getter leaves its output alone";

    param.setFloat(0.0, 2.5f);
    param.setFloat(1.0, 3.5f);
    EXPECT_FALSE(param.getInt(0, i));
    EXPECT_TRUE(param.getFloat(0.5, f));
    EXPECT_EQ(f, 2.5f);
    ListRef<int32_t> none = param.getIntList(0);
    EXPECT_EQ(none.data, nullptr);
    EXPECT_EQ(none.owner, nullptr);
    EXPECT_EQ(none.count, 0);

    // A value of another kind replaces every key: a parameter never mixes kinds.
    param.setString(5.0, "file.ptx");
    EXPECT_EQ(param.getType(), TARSK_PARAM_STRING);
    EXPECT_EQ(param.numKeys(), 1);
    EXPECT_FALSE(param.getFloat(0, f));
    ASSERT_TRUE(param.getString(0, s));
    EXPECT_STREQ(s.c_str(), "file.ptx");

    param.setString(0.0, nullptr);
    ASSERT_TRUE(param.getString(0, s));
    EXPECT_FALSE(s.hasText()) << "a null text is a string without text";

    param.setBool(0.0, true);
    ASSERT_TRUE(param.getInt(0, i));
    EXPECT_EQ(i, 1) << "bools read as ints answer 0 or 1";

    param.clear();
    EXPECT_EQ(param.getType(), TARSK_PARAM_NONE);
    EXPECT_EQ(param.numKeys(), 0);
}

TEST(TarskPluginParameter, ListRefsShareStorageThatOutlivesEveryRelease)
{
    auto param = std::make_unique<TarskPluginParameter>("vertices");
    param->setVectorList(0.0, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    param->setVectorList(2.0, {{5, 5, 5}});

    ListRef<Vector3f> first = param->getVectorList(1.0);
    ASSERT_NE(first.owner, nullptr);
    ASSERT_EQ(first.count, 3);
    EXPECT_EQ(first.owner->useCount(), 2) << "the parameter's own reference and the handle's";
    const Vector3f* storage = first.data;

    ListRef<Vector3f> second = param->getVectorList(-4.0);
    EXPECT_EQ(second.data, storage) << "before all keys: the earliest key, same storage, no copy";
    EXPECT_EQ(first.owner->useCount(), 3);
    second.release();
    EXPECT_EQ(second.data, nullptr);
    EXPECT_EQ(second.owner, nullptr);
    EXPECT_EQ(second.count, 0);
    second.release();  // releasing an empty handle does nothing

    // The plug-in releases at once and keeps the element pointer: the parameter keeps it alive.
    ListOwner* owner = first.owner;
    first.release();
    EXPECT_EQ(owner->useCount(), 1);
    EXPECT_EQ(storage[1].x, 1.0f);

    ListRef<Vector3f> late = param->getVectorList(3.0);
    ASSERT_EQ(late.count, 1);
    // A copy of the parameter (as a parameter list stores it) shares the lists.
    TarskPluginParameter copy(*param);
    EXPECT_EQ(late.owner->useCount(), 3);
    // Dropping the parameter leaves the handle's data alive until the handle is released.
    param.reset();
    EXPECT_EQ(late.owner->useCount(), 2);
    EXPECT_EQ(late.data[0].z, 5.0f);
    late.release();

    // An empty list is a list: an owner with no elements.
    TarskPluginParameter empty("faces");
    empty.setIntList(0.0, {});
    ListRef<int32_t> nothing = empty.getIntList(0.0);
    EXPECT_NE(nothing.owner, nullptr);
    EXPECT_EQ(nothing.count, 0);
    EXPECT_EQ(nothing.data, nullptr);
    nothing.release();
    EXPECT_EQ(empty.getVectorList(0.0).owner, nullptr) << "an int list is no vector list";
}
