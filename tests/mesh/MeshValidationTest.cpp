// Bad mesh lists: every fault leaves the mesh invalid with no triangles and a message naming it,
// and nothing reads outside the host's lists (the sanitizer build checks the reads).
#include "MeshLists.h"
#include "OrigPolyMesh.h"
#include "OrigTriMesh.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace {

using tarsk::test::linePositions;
using tarsk::test::MeshLists;

constexpr int32_t kHuge = std::numeric_limits<int32_t>::max();

struct BadLists {
    const char* name;
    int vertexCount;
    std::vector<int32_t> indices;
    std::vector<int32_t> degrees;
    std::vector<std::string> messageParts;  // each must appear in error()
};

template <typename Mesh>
void expectRejected(const BadLists& c)
{
    SCOPED_TRACE(c.name);
    MeshLists lists(linePositions(c.vertexCount), c.indices, c.degrees);
    auto mesh = lists.build<Mesh>(true);
    ASSERT_TRUE(mesh) << "the reading operations accept these lists; build must catch the fault";
    EXPECT_FALSE(mesh->valid());
    EXPECT_EQ(mesh->numTriangles, 0);
    const std::string message = mesh->error();
    for (const std::string& part : c.messageParts)
        EXPECT_NE(message.find(part), std::string::npos) << "message: " << message;
}

TEST(MeshValidation, PolygonMeshRejectsBadIndicesShortListsAndHugeDegrees)
{
    const std::vector<BadLists> cases = {
        {"index equal to the vertex count",
         8,
         {0, 1, 2, 3, 4, 5, 8, 7},
         {4, 4},
         {"face 1", "corner 2", "index 8", "[0, 8)"}},
        {"negative index", 8, {0, 1, 2, -1}, {4}, {"face 0", "corner 3", "-1"}},
        {"index far out of range", 4, {0, 1, 2, 3, 0, 1, 2000000000}, {4, 3}, {"face 1", "2000000000"}},
        {"short origFaces", 8, {0, 1, 2, 3, 4, 5, 6}, {4, 4}, {"face 1", "degree 4", "holds 7"}},
        {"short list after degenerate faces", 8, {0, 1, 2, 3, 4}, {-5, 2, 0, 1, 3}, {"face 4"}},
        {"huge degree", 8, {0, 1, 2, 3}, {kHuge}, {"face 0", "2147483647"}},
        {"huge degrees after valid ones", 8, {0, 1, 2, 3}, {4, kHuge, kHuge, kHuge}, {"face 1"}},
        {"empty vertices", 0, {0, 1, 2}, {3}, {"face 0", "\"vertices\" is empty"}},
        {"empty origFaces", 3, {}, {3}, {"face 0", "holds 0"}},
    };
    for (const BadLists& c : cases) expectRejected<OrigPolyMesh>(c);
}

TEST(MeshValidation, TriangleMeshNeedsThreeIndicesPerFaceEachNamingAVertex)
{
    const std::vector<BadLists> cases = {
        {"short origFaces", 6, {0, 1, 2, 3, 4}, {3, 3}, {"holds 5", "2 triangles need 6"}},
        {"index out of range", 6, {0, 1, 2, 3, 4, 6}, {3, 3}, {"face 1", "corner 2", "[0, 6)"}},
        {"negative index", 6, {0, -7, 2}, {3}, {"face 0", "corner 1", "-7"}},
        {"empty vertices", 0, {0, 1, 2}, {3}, {"\"vertices\" is empty"}},
    };
    for (const BadLists& c : cases) expectRejected<OrigTriMesh>(c);
}

TEST(MeshValidation, DegenerateFacesAreKeptWithoutTrianglesAndTheirIndicesAreChecked)
{
    // Degrees 0, 1, 2 and -5 between real faces: the mesh stays usable, they get no triangle,
    // and the indices of faces of degree 1 and 2 are still checked against the vertex list.
    MeshLists good(linePositions(10), {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {0, 3, 1, -5, 2, 4});
    auto mesh = good.build<OrigPolyMesh>();
    ASSERT_TRUE(mesh && mesh->valid()) << (mesh ? mesh->error() : "");
    EXPECT_EQ(mesh->numTriangles, 3);
    EXPECT_EQ(mesh->numDegenerateFaces(), 4);
    EXPECT_EQ(mesh->numPtexFaces(), 3 + 1 + 2 + 1);
    EXPECT_EQ(mesh->faceOfTriangle(0), 1);
    EXPECT_EQ(mesh->faceOfTriangle(1), 5);
    EXPECT_EQ(mesh->origFace(2).ptexFaceId, 6);

    MeshLists bad(linePositions(10), {0, 1, 2, 3, 10, 5}, {3, 1, 2});
    auto rejected = bad.build<OrigPolyMesh>();
    ASSERT_TRUE(rejected);
    EXPECT_FALSE(rejected->valid());
    EXPECT_NE(std::string(rejected->error()).find("face 2"), std::string::npos) << rejected->error();
}

TEST(MeshValidation, ListsThatDisagreeOrAreMissingAreRefused)
{
    MeshLists lists(linePositions(8), {0, 1, 2, 3, 4, 5, 6, 7}, {4, 4});

    // A face count from a longer list than the degrees: the degree reads would run past them.
    TUtils::TarskPluginParameter longer("origFacesDegree");
    longer.setIntList(0.0, {4, 4, 4});
    OrigPolyMesh mismatched;
    ASSERT_TRUE(mismatched.setVertices(0.0, &lists.vertices));
    ASSERT_TRUE(mismatched.setFaceVertices(0.0, &lists.origFaces));
    ASSERT_TRUE(mismatched.setFaceDegrees(0.0, &lists.origFacesDegree));
    ASSERT_TRUE(mismatched.setNumFaces(0.0, &longer));
    mismatched.build();
    EXPECT_FALSE(mismatched.valid());
    EXPECT_EQ(mismatched.numTriangles, 0);
    EXPECT_NE(std::string(mismatched.error()).find("3 faces"), std::string::npos) << mismatched.error();

    // Build called without the lists: refused, whichever form.
    OrigPolyMesh unset;
    unset.build();
    EXPECT_FALSE(unset.valid());
    EXPECT_NE(std::string(unset.error()).find("\"vertices\""), std::string::npos) << unset.error();
    OrigTriMesh unsetTriangles;
    unsetTriangles.build();
    EXPECT_FALSE(unsetTriangles.valid());

    // A vertex parameter that holds integers offers no vector list: the mesh sees no vertices.
    TUtils::TarskPluginParameter wrongKind("vertices");
    wrongKind.setIntList(0.0, {0, 1, 2});
    OrigPolyMesh noVertices;
    ASSERT_TRUE(noVertices.setVertices(0.0, &wrongKind));
    ASSERT_TRUE(noVertices.setFaceVertices(0.0, &lists.origFaces));
    ASSERT_TRUE(noVertices.setFaceDegrees(0.0, &lists.origFacesDegree));
    ASSERT_TRUE(noVertices.setNumFaces(0.0, &lists.origFacesDegree));
    noVertices.build();
    EXPECT_FALSE(noVertices.valid());
    EXPECT_EQ(noVertices.numVertices(), 0);

    // A good build followed by a build on bad lists leaves nothing usable behind.
    OrigPolyMesh rebuilt;
    ASSERT_TRUE(rebuilt.setVertices(0.0, &lists.vertices));
    ASSERT_TRUE(rebuilt.setFaceVertices(0.0, &lists.origFaces));
    ASSERT_TRUE(rebuilt.setFaceDegrees(0.0, &lists.origFacesDegree));
    ASSERT_TRUE(rebuilt.setNumFaces(0.0, &lists.origFacesDegree));
    rebuilt.build();
    ASSERT_TRUE(rebuilt.valid());
    ASSERT_TRUE(rebuilt.setFaceDegrees(0.0, &longer));
    ASSERT_TRUE(rebuilt.setNumFaces(0.0, &longer));
    rebuilt.build();
    EXPECT_FALSE(rebuilt.valid());
    EXPECT_EQ(rebuilt.numTriangles, 0);
    EXPECT_EQ(rebuilt.numPtexFaces(), 0);
}

}  // namespace
