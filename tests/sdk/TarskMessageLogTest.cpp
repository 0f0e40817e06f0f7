#include <tarsk/TarskMessageLog.h>

#include <gtest/gtest.h>

#include <string>

using namespace TUtils;

TEST(TarskMessageLog, FormatsAndRecordsPrintfStyle)
{
    TarskMessageLog log(false, true);
    log.reportError("%s", "Ptex: cannot open file");
    log.reportInfo("PTex file \"%s\" loaded.", "cube.ptx");
    log.reportInfo("%d%%", 50);
    log.reportError(nullptr);
    const std::string longText(5000, 'x');
    log.reportInfo("%s!", longText.c_str());

    const auto messages = log.messages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].level, TarskMessageLog::Level::Error);
    EXPECT_EQ(messages[0].text, "Ptex: cannot open file");
    EXPECT_EQ(messages[1].text, "PTex file \"cube.ptx\" loaded.");
    EXPECT_EQ(messages[2].text, "50%");
    EXPECT_EQ(messages[3].text, longText + "!") << "long messages are kept whole";
    EXPECT_EQ(log.count(TarskMessageLog::Level::Info), 3);
    log.clear();
    EXPECT_TRUE(log.messages().empty());

    TarskMessageLog quiet(false, false);
    quiet.reportError("%s", "dropped");
    EXPECT_TRUE(quiet.messages().empty()) << "a log that does not record keeps nothing";
    EXPECT_NE(defaultHostLog(), nullptr);
}
