// Scene files, OBJ meshes and POINTS tables: what the loaders accept, how keyed values are
// answered, and that every fault names the file and the JSON path or line where it is.
#include "HostError.h"
#include "HostTestSupport.h"
#include "MeshLists.h"
#include "ObjMesh.h"
#include "PointMaker.h"
#include "Scene.h"
#include "ShadingPoint.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

using namespace tarsk::host;
using nlohmann::json;

namespace {

json quadScene()
{
    return json::parse(R"({
      "renderer": {"threads": 2, "frame_time": 3.5, "message_log": false},
      "objects": [{"name": "q", "transform": [2,0,0,1, 0,2,0,0, 0,0,2,0, 0,0,0,1],
        "mesh": {"vertices": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "origFaces": [0,1,2,3],
                 "origFacesDegree": [4], "faces": [0,1,2, 0,2,3]},
        "texture": {"type": "TexPtex", "ptex_file": "tex/a.ptx", "width": 2}}]})");
}

// The message of the HostError that parsing `doc` throws, or "" when it parses.
std::string parseError(const json& doc)
{
    try {
        parseScene(doc, "s.json", "/base");
    } catch (const HostError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(SceneFile, ReadsSettingsObjectsAndResolvesPaths)
{
    Scene scene = parseScene(quadScene(), "s.json", "/base");
    EXPECT_EQ(scene.threads, 2);
    EXPECT_DOUBLE_EQ(scene.frameTime, 3.5);
    EXPECT_FALSE(scene.messageLog);
    ASSERT_EQ(scene.objects.size(), 1u);
    const SceneObject& o = scene.objects[0];
    EXPECT_EQ(o.name, "q");
    Vec3 p = o.objectToWorld.point({1, 1, 1});
    EXPECT_DOUBLE_EQ(p.x, 3);
    Vec3 back = o.worldToObject.point(p);
    EXPECT_NEAR(back.x, 1, 1e-12);
    EXPECT_NEAR(back.z, 1, 1e-12);
    MeshLists lists = o.meshAt(0);
    EXPECT_EQ(lists.numTriangles(), 2);
    ASSERT_EQ(o.textureParams.size(), 2u);
    for (const ParamSetting& s : o.textureParams)
        if (s.name == "ptex_file") {
            EXPECT_EQ(s.keys[0].second.get<std::string>(), "/base/tex/a.ptx");
        }
}

TEST(SceneFile, KeyedValuesAnswerTheLatestKeyNotAfterTheTime)
{
    json doc = quadScene();
    doc["objects"][0]["mesh"]["vertices"] =
        json::parse(R"({"keys": [[2, [[0,0,0],[3,0,0],[3,3,0],[0,3,0]]], [0, [[0,0,0],[1,0,0],[1,1,0],[0,1,0]]]]})");
    doc["objects"][0]["texture"]["filter_type"] = json::parse(R"({"keys": [[1, 2], [0, 1]]})");
    Scene scene = parseScene(doc, "s.json", "/base");
    const SceneObject& o = scene.objects[0];
    // Keys come in any order; before the first key the earliest one holds.
    EXPECT_EQ(o.meshAt(-5).vertices[1].x, 1.0f);
    EXPECT_EQ(o.meshAt(1.99).vertices[1].x, 1.0f);
    EXPECT_EQ(o.meshAt(2).vertices[1].x, 3.0f);
    EXPECT_EQ(o.meshAt(100).vertices[1].x, 3.0f);
    for (const ParamSetting& s : o.textureParams)
        if (s.name == "filter_type") {
            ASSERT_EQ(s.keys.size(), 2u);
            EXPECT_EQ(s.keys[0].first, 0);
            EXPECT_EQ(s.keys[1].second.get<int>(), 2);
        }
}

TEST(SceneFile, FaultsNameTheJsonPath)
{
    struct Case {
        const char* what;
        std::function<void(json&)> change;
        const char* expected;
    };
    std::vector<Case> cases = {
        {"unknown top-level key", [](json& d) { d["objets"] = 1; }, "s.json: objets: unknown key"},
        {"threads not an integer", [](json& d) { d["renderer"]["threads"] = "2"; },
         "s.json: renderer.threads: expected an integer"},
        {"threads zero", [](json& d) { d["renderer"]["threads"] = 0; }, "renderer.threads: integer 0 is outside"},
        {"short transform",
         [](json& d) {
             d["objects"][0]["transform"] = json::array({1, 2});
         },
         "objects[0].transform: expected 16 numbers"},
        {"singular transform", [](json& d) { d["objects"][0]["transform"] = json(std::vector<int>(16, 0)); },
         "objects[0].transform: the matrix cannot be inverted"},
        {"vertex not a triple",
         [](json& d) {
             d["objects"][0]["mesh"]["vertices"][2] = json::array({1, 2});
         },
         "objects[0].mesh.vertices[2]: expected an array of 3 numbers"},
        {"index out of range", [](json& d) { d["objects"][0]["mesh"]["faces"][4] = 9; },
         "objects[0].mesh: \"faces\"[4] = 9 is outside the 4 vertices"},
        {"degrees and faces disagree", [](json& d) { d["objects"][0]["mesh"]["origFacesDegree"][0] = 3; },
         "\"origFaces\" holds 4 indices but the degrees add up to 3"},
        {"missing list", [](json& d) { d["objects"][0]["mesh"].erase("faces"); }, "objects[0].mesh: missing \"faces\""},
        {"key time twice",
         [](json& d) { d["objects"][0]["texture"]["width"] = json::parse(R"({"keys": [[1, 2], [1, 3]]})"); },
         "objects[0].texture.width.keys[1][0]: time 1 is keyed twice"},
        {"missing texture type", [](json& d) { d["objects"][0]["texture"].erase("type"); },
         "objects[0].texture: missing \"type\""},
        {"missing OBJ", [](json& d) { d["objects"][0]["mesh"] = json::parse(R"({"obj": "nowhere.obj"})"); },
         "objects[0].mesh.obj: cannot open OBJ file '/base/nowhere.obj'"},
        {"camera up along view", [](json& d) { d["camera"] = json::parse(R"({"position": [0,0,5], "up": [0,0,1]})"); },
         "camera: \"up\" is parallel"},
        {"bad shading", [](json& d) { d["shading"] = "flat"; }, "shading: expected \"unlit\" or \"lambert\""},
    };
    for (const Case& c : cases) {
        json doc = quadScene();
        c.change(doc);
        std::string message = parseError(doc);
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.what << ": got '" << message << "'";
    }
}

TEST(SceneFile, LoadReportsMissingAndMalformedFiles)
{
    std::string dir = tarsk::test::scratchFolder("SceneFile.Load");
    EXPECT_THROW(loadScene(dir + "/absent.json"), HostError);
    tarsk::test::writeFile(dir + "/bad.json", "{\"objects\": [\n");
    try {
        loadScene(dir + "/bad.json");
        FAIL() << "malformed JSON was accepted";
    } catch (const HostError& e) {
        EXPECT_NE(std::string(e.what()).find("malformed JSON"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("bad.json:2:0: "), std::string::npos) << e.what();
    }
}

TEST(ObjMesh, ReadsFacesInFileOrderAndFanTriangulates)
{
    std::string dir = tarsk::test::scratchFolder("ObjMesh.Read");
    tarsk::test::writeFile(dir + "/m.obj",
                           "# a quad, a triangle and a pentagon\n"
                           "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 2 1 0\nv 1.5 2 0\n"
                           "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                           "vn 0 0 1\n"
                           "f 1/1/1 2/2/1 3/3/1 4/4/1\n"
                           "f -6 5 -5\n"
                           "f 2 5 6 7 3\n");
    ObjMesh obj = readObj(dir + "/m.obj");
    EXPECT_EQ(obj.numFaces(), 3);
    EXPECT_EQ(obj.faceDegrees, (std::vector<int32_t>{4, 3, 5}));
    EXPECT_FALSE(obj.hasUvs());  // only the quad gives texture coordinates
    MeshLists lists = meshListsFromObj(obj);
    EXPECT_EQ(lists.origFaces, (std::vector<int32_t>{0, 1, 2, 3, 1, 4, 2, 1, 4, 5, 6, 2}));
    // d - 2 triangles per face, fanned from the face's first corner, in face order.
    EXPECT_EQ(lists.faces, (std::vector<int32_t>{0, 1, 2, 0, 2, 3, 1, 4, 2, 1, 4, 5, 1, 5, 6, 1, 6, 2}));
    EXPECT_EQ(findMeshListFault(lists), "");

    std::string out = dir + "/copy.obj";
    writeObj(out, obj);
    ObjMesh again = readObj(out);
    EXPECT_EQ(again.cornerPositions, obj.cornerPositions);
    EXPECT_EQ(again.positions.size(), obj.positions.size());
}

TEST(ObjMesh, FaultsNameFileAndLine)
{
    std::string dir = tarsk::test::scratchFolder("ObjMesh.Faults");
    std::vector<std::pair<std::string, std::string>> cases = {
        {"v 0 0 0\nv 1 0 0\nf 1 2\n", ":3: a face needs at least three corners"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n", ":4: vertex index 4 is out of range"},
        {"v 0 0 zero\n", ":1: 'zero' is not a finite number"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1/7 2 3\n", ":4: texture coordinate index 7 is out of range"},
    };
    for (const auto& [text, expected] : cases) {
        tarsk::test::writeFile(dir + "/bad.obj", text);
        try {
            readObj(dir + "/bad.obj");
            ADD_FAILURE() << "accepted: " << text;
        } catch (const HostError& e) {
            EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
        }
    }
}

TEST(ShadingPoints, RowsRoundTripAndMadePointsLieOnTheirTriangle)
{
    Scene scene = parseScene(quadScene(), "s.json", "/base");
    const SceneObject& o = scene.objects[0];
    MeshLists lists = o.meshAt(0);
    PointOptions options;
    options.footprint = 0.5;
    ShadingPoint p = makePoint(lists, o.objectToWorld, {1, 0.25f, 0.5f, 1}, options);
    // Triangle 1 is (0, 2, 3) scaled by 2 and moved by x + 1.
    EXPECT_DOUBLE_EQ(p.triOrigin.x, 1);
    EXPECT_DOUBLE_EQ(p.triEdgeA.x, 2);
    EXPECT_DOUBLE_EQ(p.triEdgeA.y, 2);
    EXPECT_DOUBLE_EQ(p.hitPoint.x, 1 + 0.25 * 2);
    EXPECT_DOUBLE_EQ(p.hitPoint.y, 0.25 * 2 + 0.5 * 2);
    EXPECT_NEAR(length(p.dPdx), 0.5, 1e-12);
    EXPECT_NEAR(dot(p.dPdx, p.dPdy), 0, 1e-12);
    EXPECT_NE(p.cacheKey, 0u);
    EXPECT_EQ(p.thread, 1);
    ShadingPoint same = makePoint(lists, o.objectToWorld, {1, 0.25f, 0.5f, 0}, options);
    EXPECT_EQ(same.cacheKey, p.cacheKey);
    EXPECT_EQ(same.cacheSlot, p.cacheSlot);

    std::stringstream table;
    table << pointsHeader() << '\n';
    writePointRow(table, p);
    std::vector<ShadingPoint> back = readPoints(table, "t");
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].cacheKey, p.cacheKey);
    EXPECT_EQ(back[0].weightB, p.weightB);
    EXPECT_EQ(back[0].hitPoint.y, p.hitPoint.y);  // %.17g keeps doubles exact
    EXPECT_FLOAT_EQ(static_cast<float>(back[0].dPdy.x), static_cast<float>(p.dPdy.x));

    std::stringstream shortRow(pointsHeader() + "\n0 0 0 1 0 0.5 0.5\n");
    EXPECT_THROW(readPoints(shortRow, "t"), HostError);
    std::stringstream noHeader("0 0 0 1\n");
    EXPECT_THROW(readPoints(noHeader, "t"), HostError);
}
