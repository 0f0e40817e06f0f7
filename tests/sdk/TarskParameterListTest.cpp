#include <tarsk/TarskMessageLog.h>
#include <tarsk/TarskParameterList.h>
#include <tarsk/TarskParameterListDesc.h>

#include <gtest/gtest.h>

#include <memory>

using namespace TUtils;

namespace {

class Table : public TarskParameterListDesc {
public:
    Table()
    {
        addParamString("file", "default.ptx", -1, "a file", nullptr);
        addParamInt("count", 3, -1, "a count", nullptr);
        addParamFloat("scale", 0.5f, -1, nullptr, nullptr);
        addParamBool("flag", true, -1, "a flag", "extra");
        addParam("indices", TARSK_PARAM_INT_LIST, 0, nullptr, nullptr);
        addParam("points", TARSK_PARAM_VECTOR_LIST, 0, nullptr, nullptr);
        addOutputParamTexture("color", "output", nullptr);
    }
};

struct ListDeleter {
    const TarskParameterListDesc* desc;
    void operator()(TarskParameterList* list) const
    {
        const_cast<TarskParameterListDesc*>(desc)->deleteParameterList(list);
    }
};

class ParameterListTest : public ::testing::Test {
protected:
    ParameterListTest() : list(table.newParameterList(), ListDeleter{&table})
    {
        list->setMessageLog(&log);
        list->setParamCache("file", &file);
        list->setParamCache("count", &count);
        list->setParamCache("scale", &scale);
        list->setParamCache("flag", &flag);
    }

    Table table;
    TarskMessageLog log{false, true};
    std::unique_ptr<TarskParameterList, ListDeleter> list;
    CharString file;
    int32_t count = -99;
    float scale = -99.0f;
    int32_t flag = -99;
};

}  // namespace

TEST(TarskParameterListDesc, RefusesRowsThatCannotBeAddressed)
{
    TarskParameterListDesc desc;
    EXPECT_EQ(desc.addParamInt("a", 1, -1, "first", nullptr), 1);
    EXPECT_EQ(desc.addParamFloat("a", 1.0f, -1, "same name", nullptr), 0);
    EXPECT_EQ(desc.addParamInt(nullptr, 1, -1, nullptr, nullptr), 0);
    EXPECT_EQ(desc.addParamInt("", 1, -1, nullptr, nullptr), 0);
    EXPECT_EQ(desc.addParam("b", TARSK_PARAM_INT, 0, nullptr, nullptr), 0) << "addParam registers lists only";
    EXPECT_EQ(desc.addParam("b", TARSK_PARAM_FLOAT_LIST, 0, nullptr, nullptr), 1);
    EXPECT_EQ(desc.addParamString("s", nullptr, -1, nullptr, nullptr), 1) << "null texts are accepted";
    ASSERT_EQ(desc.numParams(), 3);
    EXPECT_FALSE(desc.param(2).defaultString.hasText());
    EXPECT_FALSE(desc.param(2).description.hasText());
    EXPECT_EQ(desc.findParam("b")->type, TARSK_PARAM_FLOAT_LIST);
    EXPECT_EQ(desc.findParam("zzz"), nullptr);
    EXPECT_EQ(desc.findParam(nullptr), nullptr);
    desc.deleteParameterList(nullptr);
}

TEST_F(ParameterListTest, BoundMembersStartAtTheDefaultsAndFollowTheValues)
{
    EXPECT_STREQ(file.c_str(), "default.ptx");
    EXPECT_EQ(count, 3);
    EXPECT_EQ(scale, 0.5f);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(list->getParam("count"), nullptr) << "a default is not a value the scene gave";
    EXPECT_EQ(list->getParam("indices"), nullptr) << "lists have no default";

    TarskPluginParameter newCount("count");
    newCount.setInt(0.0, 12);
    EXPECT_EQ(list->setParameter(&newCount), 1);
    EXPECT_EQ(count, 12);
    ASSERT_NE(list->getParam("count"), nullptr);
    EXPECT_NE(list->getParam("count"), &newCount) << "the list keeps its own copy";

    // A bool parameter stores the int a scene gives; any non-zero value is true to readers.
    TarskPluginParameter flagValue("flag");
    flagValue.setInt(0.0, 42);
    EXPECT_EQ(list->setParameter(&flagValue), 1);
    EXPECT_EQ(flag, 42);
    flagValue.setBool(0.0, false);
    EXPECT_EQ(list->setParameter(&flagValue), 1);
    EXPECT_EQ(flag, 0);

    TarskPluginParameter name("file");
    name.setString(0.0, "other.ptx");
    EXPECT_EQ(list->setParameter(&name), 1);
    EXPECT_STREQ(file.c_str(), "other.ptx");
    EXPECT_EQ(log.count(TarskMessageLog::Level::Error), 0);
}

TEST_F(ParameterListTest, RefusalsChangeNothingAndSayWhy)
{
    struct Case {
        const char* name;
        TarskParameterType kind;
    };
    const Case refused[] = {
        {"nosuch", TARSK_PARAM_INT},           // unknown name
        {"count", TARSK_PARAM_FLOAT},          // float for an int
        {"scale", TARSK_PARAM_INT},            // int for a float
        {"file", TARSK_PARAM_INT},             // int for a string
        {"flag", TARSK_PARAM_FLOAT},           // float for a bool
        {"indices", TARSK_PARAM_VECTOR_LIST},  // wrong list kind
        {"points", TARSK_PARAM_INT_LIST},
        {"color", TARSK_PARAM_INT},   // outputs are not set
        {"count", TARSK_PARAM_NONE},  // no value at all
    };
    for (const Case& c : refused) {
        TarskPluginParameter param(c.name);
        switch (c.kind) {
        case TARSK_PARAM_INT: param.setInt(0, 1000); break;
        case TARSK_PARAM_FLOAT: param.setFloat(0, 1000.0f); break;
        case TARSK_PARAM_VECTOR_LIST: param.setVectorList(0, {{1, 2, 3}}); break;
        case TARSK_PARAM_INT_LIST: param.setIntList(0, {1, 2, 3}); break;
        default: break;
        }
        const int errorsBefore = log.count(TarskMessageLog::Level::Error);
        EXPECT_EQ(list->setParameter(&param), 0) << c.name;
        EXPECT_EQ(log.count(TarskMessageLog::Level::Error), errorsBefore + 1) << c.name;
        EXPECT_EQ(list->getParam(c.name), nullptr) << c.name;
    }
    EXPECT_EQ(list->setParameter(nullptr), 0);
    EXPECT_STREQ(file.c_str(), "default.ptx");
    EXPECT_EQ(count, 3);
    EXPECT_EQ(scale, 0.5f);
    EXPECT_EQ(flag, 1);
    const auto messages = log.messages();
    EXPECT_NE(messages.front().text.find("nosuch"), std::string::npos) << messages.front().text;

    // Bindings of the wrong kind, unknown names and null members are refused too.
    float wrongKind = 7.0f;
    int32_t stray = 7;
    list->setParamCache("count", &wrongKind);
    list->setParamCache("nosuch", &stray);
    list->setParamCache("count", static_cast<int32_t*>(nullptr));
    EXPECT_EQ(wrongKind, 7.0f);
    EXPECT_EQ(stray, 7);
    EXPECT_EQ(log.count(TarskMessageLog::Level::Error), static_cast<int>(std::size(refused)) + 1 + 3);
}

TEST_F(ParameterListTest, KeyedValuesAreSampledAtTheCurrentTime)
{
    TarskPluginParameter keyed("scale");
    keyed.setFloat(1.0, 10.0f);
    keyed.setFloat(2.0, 20.0f);
    ASSERT_EQ(list->setParameter(&keyed), 1);
    EXPECT_EQ(scale, 10.0f) << "time 0 lies before every key: the earliest";
    list->setCurrentTime(1.5);
    EXPECT_EQ(scale, 10.0f);
    list->setCurrentTime(2.0);
    EXPECT_EQ(scale, 20.0f);
    EXPECT_EQ(count, 3) << "unset parameters keep their default at any time";

    // Setting a parameter again replaces all its keys.
    TarskPluginParameter single("scale");
    single.setFloat(0.0, 1.0f);
    ASSERT_EQ(list->setParameter(&single), 1);
    EXPECT_EQ(scale, 1.0f);
    EXPECT_EQ(list->getParam("scale")->numKeys(), 1);
}

TEST_F(ParameterListTest, ListValuesOutliveTheSceneCopyAndTheHandles)
{
    ListOwner* owner = nullptr;
    {
        TarskPluginParameter indices("indices");
        indices.setIntList(0.0, {4, 5, 6});
        ASSERT_EQ(list->setParameter(&indices), 1);
        ListRef<int32_t> ref = indices.getIntList(0.0);
        owner = ref.owner;
        EXPECT_EQ(owner->useCount(), 3) << "scene copy, list copy, handle: shared, not copied";
        ref.release();
    }
    ListRef<int32_t> ref = list->getParam("indices")->getIntList(0.0);
    EXPECT_EQ(ref.owner, owner);
    const int32_t* data = ref.data;
    ref.release();
    EXPECT_EQ(owner->useCount(), 1);
    EXPECT_EQ(data[2], 6) << "the parameter's own copy keeps the storage for the frame";
}

TEST_F(ParameterListTest, OutputsAreBoundNotSet)
{
    auto* fakeTexture = reinterpret_cast<TextureInterface*>(&count);  // only compared, never used
    EXPECT_EQ(list->getOutputParam("color"), nullptr);
    list->setOutputParamCache("color", fakeTexture);
    EXPECT_EQ(list->getOutputParam("color"), fakeTexture);
    list->setOutputParamCache("count", fakeTexture);
    EXPECT_EQ(list->getOutputParam("count"), nullptr);
    EXPECT_EQ(log.count(TarskMessageLog::Level::Error), 1);
}

TEST(TarskParameterList, ListsAreCountedWhileAlive)
{
    Table table;
    const int before = TarskParameterList::liveCount();
    TarskParameterList* list = table.newParameterList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->numParams(), table.numParams());
    EXPECT_EQ(TarskParameterList::liveCount(), before + 1);
    table.deleteParameterList(list);
    EXPECT_EQ(TarskParameterList::liveCount(), before);
}
