// Inputs that must not crash a host: scene files nested far deeper than any scene means, numbers
// out of range, texts with a NUL, counts below their bound, and OBJ, POINTS and request files with
// endless lines, NUL bytes and bytes that are not UTF-8. Each gives one message that names the
// file and the JSON path or line, and never quotes more than a few dozen bytes of the input.
#include "HostError.h"
#include "HostTestSupport.h"
#include "LineReader.h"
#include "ObjMesh.h"
#include "PointMaker.h"
#include "Scene.h"
#include "SceneJson.h"
#include "ShadingPoint.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

using namespace tarsk::host;
using namespace tarsk::test;
using nlohmann::json;

namespace {

constexpr size_t kDeep = 100000;

// A valid one-triangle object whose "texture" gets `parameters` ("" or ", ..." members).
std::string objectText(const std::string& parameters)
{
    return R"({"name": "t", "mesh": {"vertices": [[0,0,0],[1,0,0],[0,1,0]], "origFaces": [0,1,2],)"
           R"( "origFacesDegree": [3], "faces": [0,1,2]}, "texture": {"type": "TexPtex")" +
           parameters + "}}";
}

std::string sceneText(const std::string& parameters, const std::string& settings = "")
{
    return "{" + settings + "\"objects\": [" + objectText(parameters) + "]}";
}

std::string nested(const std::string& open, const std::string& close, size_t depth, const std::string& inner)
{
    std::string text;
    text.reserve(depth * (open.size() + close.size()) + inner.size());
    for (size_t i = 0; i < depth; ++i) text += open;
    text += inner;
    for (size_t i = 0; i < depth; ++i) text += close;
    return text;
}

// The HostError message of loading `text` as a scene file, from the file's name on, or "" when
// it loads.
std::string loadError(const std::string& text)
{
    std::string dir = scratchFolder("SceneLimits");
    writeFile(dir + "/scene.json", text);
    try {
        loadScene(dir + "/scene.json");
    } catch (const HostError& e) {
        std::string message = e.what();
        return message.rfind(dir + "/", 0) == 0 ? message.substr(dir.size() + 1) : message;
    }
    return "";
}

std::string errorOf(const std::function<void()>& load)
{
    try {
        load();
    } catch (const HostError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(SceneLimits, DeepNestingIsRefusedWithFileAndPath)
{
    struct Case {
        const char* what;
        std::string text;
        std::string expected;
    };
    const std::string bound = "nested deeper than " + std::to_string(kMaxSceneDepth) + " levels";
    std::vector<Case> cases = {
        {"arrays in a texture parameter", sceneText(", \"width\": " + nested("[", "]", kDeep, "1")),
         "scene.json: objects[0].texture.width[0][0][0][0]...("},
        {"objects in a texture parameter", sceneText(", \"blur\": " + nested("{\"k\": ", "}", kDeep, "1")),
         "scene.json: objects[0].texture.blur.k.k.k.k..."},
        {"arrays in a mesh list", "{\"objects\": [{\"mesh\": {\"faces\": " + nested("[", "]", kDeep, "") + "}}]}",
         "scene.json: objects[0].mesh.faces[0][0][0][0]..."},
        {"arrays at the top level", nested("[", "]", kDeep, ""), "scene.json: [0][0][0][0][0][0][0][0]..."},
        {"one level too deep", nested("[", "]", kMaxSceneDepth + 1, ""), "scene.json: [0]"},
    };
    for (const Case& c : cases) {
        std::string message = loadError(c.text);
        EXPECT_EQ(message.rfind(c.expected, 0), 0u) << c.what << ": " << message;
        EXPECT_NE(message.find(bound), std::string::npos) << c.what << ": " << message;
        EXPECT_LT(message.size(), 300u) << c.what;
    }
    // The bound itself is allowed (and refused later for what it is, not for its depth).
    std::string atBound = loadError(nested("[", "]", kMaxSceneDepth, ""));
    EXPECT_EQ(atBound.find("nested"), std::string::npos) << atBound;

    // A document built elsewhere and handed to parseScene meets the same bound.
    json deep = 1;
    for (size_t i = 0; i < kDeep; ++i) deep = json::array({std::move(deep)});
    json doc = json::parse(sceneText(""));
    doc["objects"][0]["texture"]["width"] = std::move(deep);
    std::string message = errorOf([&] { parseScene(doc, "built.json", "/base"); });
    EXPECT_EQ(message.rfind("built.json: objects[0].texture.width[0]", 0), 0u) << message;
    EXPECT_NE(message.find(bound), std::string::npos) << message;
}

TEST(SceneLimits, NumbersTextsAndCountsOutsideTheirBoundsAreRefused)
{
    struct Case {
        const char* what;
        std::string text;
        std::string expected;
    };
    std::string longList = "[1";
    for (int i = 0; i < 200000; ++i) longList += ",1";
    longList += "]";
    std::vector<Case> cases = {
        {"number beyond a double", sceneText(", \"width\": 1e400"),
         "scene.json: objects[0].texture.width: the number 1e400 is outside the range of a double"},
        {"negative number beyond a double", sceneText("", "\"renderer\": {\"frame_time\": -2e308},"),
         "scene.json: renderer.frame_time: the number -2e308 is outside"},
        {"NUL in the type", "{\"objects\": [{\"texture\": {\"type\": \"Tex\\u0000Ptex\"}}]}",
         "scene.json: objects[0].texture.type: the text holds a NUL character"},
        {"NUL in a file name", sceneText(", \"ptex_file\": \"a.ptx\\u0000.png\""),
         "scene.json: objects[0].texture.ptex_file: the text holds a NUL character"},
        {"NUL in a key", sceneText(", \"width\\u0000x\": 1"),
         "scene.json: objects[0].texture.width\\x00x: the text holds a NUL character"},
        {"no threads", sceneText("", "\"renderer\": {\"threads\": 0},"),
         "scene.json: renderer.threads: integer 0 is outside [1, 1024]"},
        {"no width", sceneText("", "\"image\": {\"width\": 0},"), "scene.json: image.width: integer 0 is outside"},
        {"no height", sceneText("", "\"image\": {\"height\": 0},"), "scene.json: image.height: integer 0 is outside"},
        {"no samples", sceneText("", "\"image\": {\"spp\": 0},"), "scene.json: image.spp: integer 0 is outside"},
        {"syntax error", "{\"objects\": [\n  {\"name\": tru}]}",
         "scene.json:2:15: malformed JSON: syntax error while parsing value - invalid literal"},
        {"bytes that are not UTF-8", "{\"objects\": [\n  {\"name\": \"W\xfcrfel\"}]}",
         "scene.json:2:14: malformed JSON: syntax error while parsing value - invalid string: ill-formed UTF-8"},
        {"end of input", "{\"objects\": [", "scene.json:1:13: malformed JSON: "},
        {"long value in a message", "{\"objects\": [{\"transform\": " + longList + "}]}",
         "scene.json: objects[0].transform: expected 16 numbers"},
        {"long list in a message", "{\"objects\": " + longList + "}",
         "scene.json: objects[0]: expected an object, got number 1"},
    };
    for (const Case& c : cases) {
        std::string message = loadError(c.text);
        EXPECT_EQ(message.rfind(c.expected, 0), 0u) << c.what << ": " << message;
        EXPECT_LT(message.size(), 300u) << c.what << ": " << message;
    }
}

TEST(SceneLimits, LineFilesRefuseEndlessLinesNulBytesAndForeignBytes)
{
    std::string dir = scratchFolder("SceneLimits.Lines");
    const std::string endless(kMaxLineLength + 1, '1');
    struct Case {
        const char* what;
        std::string text;
        std::string expected;
    };
    std::vector<Case> objCases = {
        {"endless line", "v 0 0 0\n" + endless + "\n", "m.obj:2: the line is longer than 1048576 bytes"},
        {"endless last line", "v 0 0 0\nv 1 1 " + endless, "m.obj:2: the line is longer than"},
        {"NUL inside a number",
         std::string("v 0 0 1\0"
                     "5\n",
                     11),
         "m.obj:1: '1\\x005' is not a finite number"},
        {"foreign bytes", "v 0 0 \xff\xfe\n", "m.obj:1: '\\xff\\xfe' is not a finite number"},
        {"long token", "v 0 0 " + std::string(5000, 'x') + "\n", "m.obj:1: 'xxxxxxxx"},
    };
    for (const Case& c : objCases) {
        writeFile(dir + "/m.obj", c.text);
        std::string message = errorOf([&] { readObj(dir + "/m.obj"); });
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.what << ": " << message;
        EXPECT_LT(message.size(), 300u) << c.what;
    }
    // A line of exactly the bound is still read.
    writeFile(dir + "/m.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n# " + std::string(kMaxLineLength - 2, 'c') + "\nf 1 2 3");
    EXPECT_EQ(readObj(dir + "/m.obj").numFaces(), 1);

    const std::string header = pointsHeader() + "\n";
    std::string row = "0\t0x0\t0\t1\t0\t0.25\t0.25";
    for (int i = 0; i < 24; ++i) row += "\t1";
    std::vector<Case> pointCases = {
        {"endless line", header + endless, "p.tsv:2: the line is longer than"},
        {"NUL inside a number",
         header + row.substr(0, 12) +
             std::string("0.2\0"
                         "5",
                         5) +
             row.substr(16),
         "p.tsv:2: column weightA: '0.2\\x005' is not a finite number"},
        {"foreign bytes", header + "\xc3\xa9\xff" + row.substr(1), "p.tsv:2: column thread: '\xc3\xa9\\xff'"},
    };
    for (const Case& c : pointCases) {
        std::istringstream in(c.text);
        std::string message = errorOf([&] { readPoints(in, "p.tsv"); });
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.what << ": " << message;
        EXPECT_LT(message.size(), 300u) << c.what;
    }
    std::istringstream good(header + row + "\n");
    EXPECT_EQ(readPoints(good, "p.tsv").size(), 1u);

    std::vector<Case> requestCases = {
        {"endless line", endless, "r.tsv:1: the line is longer than"},
        {"long line in a message", "0 0.5 " + std::string(5000, 'y'), "r.tsv:1: expected"},
        {"weights not finite", "0 nan 0.5", "r.tsv:1: expected"},
    };
    for (const Case& c : requestCases) {
        std::istringstream in(c.text);
        std::string message = errorOf([&] { readPointRequests(in, "r.tsv"); });
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.what << ": " << message;
        EXPECT_LT(message.size(), 300u) << c.what;
    }
}

TEST(SceneLimits, ProgramsFailWithOneLineOnADeepScene)
{
    std::string dir = scratchFolder("SceneLimits.Programs");
    writeFile(dir + "/deep.json", sceneText(", \"width\": " + nested("[", "]", kDeep, "1")));
    writeFile(dir + "/points.tsv", pointsHeader() + "\n");
    std::vector<std::vector<std::string>> commands = {
        {evalProgram(), dir + "/deep.json", dir + "/points.tsv", "--plugin", pluginPath()}};
    if (!renderProgram().empty())
        commands.push_back({renderProgram(), dir + "/deep.json", "-o", dir + "/out.png", "--quiet"});
    for (const auto& command : commands) {
        CommandResult r = runCommand(command);
        EXPECT_EQ(r.exitCode, 1) << command[0] << ": " << r.err;
        EXPECT_EQ(r.err.rfind("error: " + dir + "/deep.json: objects[0].texture.width[0]", 0), 0u) << r.err;
        EXPECT_EQ(splitLines(r.err).size(), 1u) << r.err;
    }
}
