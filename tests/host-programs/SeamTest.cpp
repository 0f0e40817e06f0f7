// Seams: a Ptex file baked by ptex-bake from a procedural that is linear in position, evaluated
// through the plug-in on both sides of every edge shared by two render triangles (between faces,
// between the sub-faces of n-gons and across the diagonals of quads). With the adjacency right,
// filters blend across the seams and both sides agree; a wrong neighbour shows as a step.
#include "HostTestSupport.h"
#include "MeshLists.h"
#include "ObjMesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

using namespace tarsk;
using namespace tarsk::test;

namespace {

const char* kCube =
    "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nv 0 0 1\nv 1 0 1\nv 0 1 1\nv 1 1 1\n"
    "f 1 3 4 2\nf 5 6 8 7\nf 1 2 6 5\nf 3 7 8 4\nf 1 5 7 3\nf 2 4 8 6\n";

// A tilted plane of quads, a pentagon with a triangle beside it, and a hexagon. The texture's
// mapping inside an n-gon is exact only where the n-gon is planar, so the plane is flat.
const char* kNgons =
    "v 0 0 0\nv 1 0 0.3\nv 2 0 0.6\nv 3 0 0.9\nv 4 0 1.2\n"
    "v 0 1 0\nv 1 1 0.3\nv 2 1 0.6\nv 3 1 0.9\nv 4 1 1.2\n"
    "v 0 2 0\nv 1 2 0.3\nv 2 2 0.6\nv 3 2 0.9\nv 4 2 1.2\n"
    "f 1 2 7 6\nf 2 3 4 9 8\nf 2 8 7\nf 4 5 10 9\n"
    "f 6 7 8 13 12 11\nf 8 9 14 13\nf 9 10 15 14\n";

struct SideSample {
    int triangle;
    float weightA, weightB;
};

// Point on triangle t: the point at `along` on the edge (a, b), moved `inset` towards the
// triangle's third corner, in the triangle's own weights (corner 0 + wA edge A + wB edge B).
SideSample sampleNearEdge(const host::MeshLists& lists, int t, int32_t a, int32_t b, double along, double inset)
{
    double bary[3] = {0, 0, 0};
    for (int k = 0; k < 3; ++k) {
        int32_t v = lists.faces[3 * t + k];
        bary[k] = v == a ? 1 - along : v == b ? along : 0;
    }
    for (int k = 0; k < 3; ++k) {
        int32_t v = lists.faces[3 * t + k];
        bary[k] = bary[k] * (1 - inset) + (v != a && v != b ? inset : 0);
    }
    return {t, static_cast<float>(bary[1]), static_cast<float>(bary[2])};
}

// Largest colour difference across the shared edges of the mesh; also the number of pairs.
double worstSeamStep(const std::string& dir, const std::string& name, const char* obj, int filterType, bool adjacency,
                     int& pairs)
{
    writeFile(dir + "/" + name + ".obj", obj);
    std::vector<std::string> bake = {bakeProgram(),
                                     dir + "/" + name + ".obj",
                                     dir + "/" + name + ".ptx",
                                     "--procedural",
                                     "gradient",
                                     "--res",
                                     "5",
                                     "--type",
                                     "float"};
    if (!adjacency) bake.push_back("--no-adjacency");
    CommandResult baked = runCommand(bake);
    EXPECT_EQ(baked.exitCode, 0) << baked.err;
    std::string scene = dir + "/" + name + std::to_string(filterType) + ".json";
    writeFile(scene, "{\"objects\": [{\"mesh\": {\"obj\": \"" + name +
                         ".obj\"}, \"texture\": {\"type\": \"TexPtex\", "
                         "\"ptex_file\": \"" +
                         name + ".ptx\", \"filter_type\": " + std::to_string(filterType) + "}}]}");

    host::MeshLists lists = host::meshListsFromObj(host::readObj(dir + "/" + name + ".obj"));
    std::map<std::pair<int32_t, int32_t>, std::vector<int>> edgeTriangles;
    for (int t = 0; t < lists.numTriangles(); ++t)
        for (int k = 0; k < 3; ++k) {
            int32_t a = lists.faces[3 * t + k], b = lists.faces[3 * t + (k + 1) % 3];
            edgeTriangles[{std::min(a, b), std::max(a, b)}].push_back(t);
        }
    std::ostringstream requests;
    pairs = 0;
    for (const auto& [edge, triangles] : edgeTriangles) {
        if (triangles.size() != 2) continue;
        for (double along : {0.2, 0.5, 0.8}) {
            for (int side = 0; side < 2; ++side) {
                SideSample s = sampleNearEdge(lists, triangles[side], edge.first, edge.second, along, 1e-3);
                char line[96];
                std::snprintf(line, sizeof line, "%d %.9g %.9g\n", s.triangle, s.weightA, s.weightB);
                requests << line;
            }
            ++pairs;
        }
    }
    CommandResult made =
        runCommand({evalProgram(), "--make-points", scene, "-", "--footprint", "0.04"}, requests.str());
    EXPECT_EQ(made.exitCode, 0) << made.err;
    writeFile(dir + "/points.tsv", made.out);
    CommandResult r = runCommand({evalProgram(), scene, dir + "/points.tsv", "--plugin", pluginPath()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> lines = splitLines(r.out);
    EXPECT_EQ(static_cast<int>(lines.size()), 2 * pairs);
    double worst = 0;
    for (size_t i = 0; i + 1 < lines.size(); i += 2) {
        std::istringstream one(lines[i]), two(lines[i + 1]);
        for (int c = 0; c < 3; ++c) {
            double x, y;
            one >> x;
            two >> y;
            worst = std::max(worst, std::fabs(x - y));
        }
    }
    return worst;
}

}  // namespace

TEST(Seams, BakedGradientShowsNoStepAcrossSharedEdges)
{
    if (bakeProgram().empty()) GTEST_SKIP() << "ptex-bake is not built";
    std::string dir = scratchFolder("Seams");
    // Points 2e-3 apart differ by far less than the gradient's step per texel. Measured with the
    // baked adjacency: at most 0.0037 (cube) and 0.0047 (n-gons, near corners where sub-faces
    // meet), about one step of an 8-bit image; baked without adjacency the same files step by
    // 0.009 to 0.018.
    for (int filterType : {1, 2, 4}) {
        for (const auto& [name, obj] : {std::pair<std::string, const char*>{"cube", kCube}, {"ngons", kNgons}}) {
            int pairs = 0;
            double worst = worstSeamStep(dir, name, obj, filterType, true, pairs);
            double unblended = worstSeamStep(dir, name, obj, filterType, false, pairs);
            std::printf("seam step %-6s filter %d: max %.5f over %d edge points (%.5f without adjacency)\n",
                        name.c_str(), filterType, worst, pairs, unblended);
            ::testing::Test::RecordProperty(name + "_filter" + std::to_string(filterType), std::to_string(worst));
            EXPECT_GT(pairs, 20);
            EXPECT_LT(worst, 0.005) << name << " filter " << filterType;
            EXPECT_GT(unblended, 2 * worst) << "the measurement cannot tell a seam from none";
        }
    }
}
