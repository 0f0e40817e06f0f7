// Render threads in tarsk-eval: many points spread over four render-thread indices run on four
// threads at once against one texture instance (its filters and result caches per thread), frame
// after frame. Under ThreadSanitizer the programs are instrumented too and stop on a race.
#include "HostTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace tarsk::test;

TEST(EvalThreads, FourThreadsAnswerAsOne)
{
    std::string dir = scratchFolder("EvalThreads");
    writeFile(dir + "/grid.obj",
              "v 0 0 0\nv 1 0 0\nv 2 0 0\nv 0 1 0\nv 1 1 0\nv 2 1 0\nv 0 2 0\nv 1 2 0\nv 2 2 0\n"
              "f 1 2 5 4\nf 2 3 6 5\nf 4 5 8 7\nf 5 6 9 8\n");
    std::string ptex = haveTestData() ? testDataDir() + "/quad_grid_u8.ptx" : dir + "/absent.ptx";
    auto scene = [&](int threads) {
        std::string path = dir + "/scene" + std::to_string(threads) + ".json";
        writeFile(path, "{\"renderer\": {\"threads\": " + std::to_string(threads) +
                            "}, \"objects\": [{\"mesh\": {\"obj\": \"grid.obj\"}, \"texture\": {\"type\": \"TexPtex\", "
                            "\"ptex_file\": \"" +
                            ptex + "\", \"filter_type\": 3}}]}");
        return path;
    };
    std::string four = scene(4), one = scene(1);
    std::ostringstream spread, serial;
    for (int i = 0; i < 400; ++i) {
        int triangle = i % 8;
        float a = static_cast<float>((i * 37 % 100) / 250.0), b = static_cast<float>((i * 53 % 100) / 250.0);
        spread << triangle << ' ' << a << ' ' << b << ' ' << i % 4 << '\n';
        serial << triangle << ' ' << a << ' ' << b << " 0\n";
    }
    CommandResult madeSpread = runCommand({evalProgram(), "--make-points", four, "-"}, spread.str());
    CommandResult madeSerial = runCommand({evalProgram(), "--make-points", one, "-"}, serial.str());
    ASSERT_EQ(madeSpread.exitCode, 0) << madeSpread.err;
    ASSERT_EQ(madeSerial.exitCode, 0) << madeSerial.err;
    writeFile(dir + "/spread.tsv", madeSpread.out);
    writeFile(dir + "/serial.tsv", madeSerial.out);
    CommandResult parallel =
        runCommand({evalProgram(), four, dir + "/spread.tsv", "--frames", "3", "--plugin", pluginPath()});
    CommandResult single =
        runCommand({evalProgram(), one, dir + "/serial.tsv", "--frames", "3", "--plugin", pluginPath()});
    ASSERT_EQ(parallel.exitCode, 0) << parallel.err;
    ASSERT_EQ(single.exitCode, 0) << single.err;
    EXPECT_EQ(splitLines(parallel.out).size(), 1200u);
    EXPECT_EQ(parallel.out, single.out);
}
