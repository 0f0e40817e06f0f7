#include "PtexFaceLayout.h"

#include <algorithm>
#include <tuple>

namespace tarsk::bake {

namespace {

// One side of a Ptex edge: face id and edge id.
struct EdgeSide {
    int32_t face = -1;
    int32_t edge = 0;
};

// The Ptex edges that cover original edge j of face f, in the face's own direction: one for a
// whole face, two halves (first from corner j to the midpoint, then on to corner j + 1) for an
// n-gon of a quad-type file.
std::vector<EdgeSide> edgeSegments(const PtexFaceLayout& layout, const ObjMesh& mesh, int f, int j)
{
    int d = mesh.faceDegrees[f];
    int id = layout.firstFaceId[f];
    if (!layout.quadType || d == 4) return {{id + 0, j}};
    // Sub-face j's bottom edge starts at corner j; sub-face j+1's left edge ends at corner j+1.
    return {{id + j, 0}, {id + (j + 1) % d, 3}};
}

void link(PtexFaceLayout& layout, const EdgeSide& from, const EdgeSide& to)
{
    layout.faces[from.face].adjFaces[from.edge] = to.face;
    layout.faces[from.face].adjEdges[from.edge] = to.edge;
}

// `scratch` is reused from face to face, so that the test allocates nothing per face.
bool isDegenerate(const ObjMesh& mesh, int f, std::vector<int32_t>& scratch)
{
    const int32_t* corners = mesh.cornerPositions.data() + mesh.faceStarts[f];
    scratch.assign(corners, corners + mesh.faceDegrees[f]);
    std::sort(scratch.begin(), scratch.end());
    return std::adjacent_find(scratch.begin(), scratch.end()) != scratch.end();
}

// One use of an original edge: its vertex pair (smaller first), the face and its edge index.
struct EdgeUse {
    int32_t lo, hi, face, edge;
    bool operator<(const EdgeUse& o) const
    {
        return std::tie(lo, hi, face, edge) < std::tie(o.lo, o.hi, o.face, o.edge);
    }
};

}  // namespace

PtexFaceLayout buildPtexFaceLayout(const ObjMesh& mesh)
{
    PtexFaceLayout layout;
    layout.quadType = false;
    for (int d : mesh.faceDegrees)
        if (d != 3) layout.quadType = true;
    const bool uvs = mesh.hasUvs();

    // Ptex faces with their corners, in face order.
    for (int f = 0; f < mesh.numFaces(); ++f) {
        int d = mesh.faceDegrees[f];
        const int32_t* pos = mesh.cornerPositions.data() + mesh.faceStarts[f];
        const int32_t* tex = mesh.cornerUvs.data() + mesh.faceStarts[f];
        auto position = [&](int k) { return mesh.positions[pos[k]]; };
        auto uvAt = [&](int k) { return uvs ? mesh.uvs[tex[k]] : std::array<double, 2>{0, 0}; };
        layout.firstFaceId.push_back(static_cast<int32_t>(layout.faces.size()));
        if (!layout.quadType || d == 4) {
            PtexFaceRecord face;
            face.originalFace = f;
            face.numCorners = d;
            for (int k = 0; k < d; ++k) {
                face.corners[k] = position(k);
                face.uvs[k] = uvAt(k);
            }
            layout.faces.push_back(face);
            continue;
        }
        Vec3 centre;
        std::array<double, 2> centreUv{0, 0};
        for (int k = 0; k < d; ++k) {
            centre += position(k);
            centreUv[0] += uvAt(k)[0];
            centreUv[1] += uvAt(k)[1];
        }
        centre = centre / d;
        centreUv = {centreUv[0] / d, centreUv[1] / d};
        auto mid = [](const std::array<double, 2>& a, const std::array<double, 2>& b) {
            return std::array<double, 2>{(a[0] + b[0]) / 2, (a[1] + b[1]) / 2};
        };
        for (int k = 0; k < d; ++k) {
            int next = (k + 1) % d, prev = (k + d - 1) % d;
            PtexFaceRecord face;
            face.originalFace = f;
            face.subFace = k;
            face.corners = {position(k), (position(k) + position(next)) / 2, centre,
                            (position(prev) + position(k)) / 2};
            face.uvs = {uvAt(k), mid(uvAt(k), uvAt(next)), centreUv, mid(uvAt(prev), uvAt(k))};
            layout.faces.push_back(face);
        }
    }

    // Sub-faces of one n-gon meet along the spokes to the centre: sub-face k's right edge (from
    // the edge midpoint to the centre) is sub-face k+1's top edge run backwards.
    if (layout.quadType)
        for (int f = 0; f < mesh.numFaces(); ++f) {
            int d = mesh.faceDegrees[f];
            if (d == 4) continue;
            int id = layout.firstFaceId[f];
            for (int k = 0; k < d; ++k) {
                int next = id + (k + 1) % d;
                link(layout, {id + k, 1}, {next, 2});
                link(layout, {next, 2}, {id + k, 1});
            }
        }

    // Original edges by their unordered vertex pair: one sorted list of edge uses (16 bytes
    // each) groups the uses of each edge, in vertex-pair order and then face order.
    std::vector<EdgeUse> edgeUses;
    edgeUses.reserve(mesh.cornerPositions.size());
    std::vector<int32_t> scratch;
    for (int f = 0; f < mesh.numFaces(); ++f) {
        if (isDegenerate(mesh, f, scratch)) {
            layout.warnings.push_back("face " + std::to_string(f) +
                                      " is degenerate (a vertex repeats); its edges get no neighbours");
            continue;
        }
        int d = mesh.faceDegrees[f];
        for (int j = 0; j < d; ++j) {
            int32_t a = mesh.cornerPositions[mesh.faceStarts[f] + j];
            int32_t b = mesh.cornerPositions[mesh.faceStarts[f] + (j + 1) % d];
            edgeUses.push_back({std::min(a, b), std::max(a, b), f, j});
        }
    }
    std::sort(edgeUses.begin(), edgeUses.end());
    for (size_t first = 0, last = 0; first < edgeUses.size(); first = last) {
        last = first + 1;
        while (last < edgeUses.size() && edgeUses[last].lo == edgeUses[first].lo &&
               edgeUses[last].hi == edgeUses[first].hi)
            ++last;
        const size_t count = last - first;
        if (count == 1) continue;  // mesh border
        auto name = [&] {
            return "edge " + std::to_string(edgeUses[first].lo) + "-" + std::to_string(edgeUses[first].hi);
        };
        if (count > 2) {
            layout.warnings.push_back(name() + " is shared by " + std::to_string(count) +
                                      " faces (non-manifold); it gets no neighbours");
            continue;
        }
        const int f = edgeUses[first].face, j = edgeUses[first].edge;
        const int g = edgeUses[first + 1].face, i = edgeUses[first + 1].edge;
        int32_t fa = mesh.cornerPositions[mesh.faceStarts[f] + j];
        int32_t ga = mesh.cornerPositions[mesh.faceStarts[g] + i];
        if (fa == ga) {
            layout.warnings.push_back(name() + " runs the same way in faces " + std::to_string(f) + " and " +
                                      std::to_string(g) + " (inconsistent orientation); it gets no neighbours");
            continue;
        }
        // Both faces run the shared edge in opposite directions, so F's first segment (nearest
        // F's corner j) meets G's last segment, and so on.
        std::vector<EdgeSide> fs = edgeSegments(layout, mesh, f, j);
        std::vector<EdgeSide> gs = edgeSegments(layout, mesh, g, i);
        if (fs.size() == gs.size()) {
            for (size_t s = 0; s < fs.size(); ++s) {
                link(layout, fs[s], gs[gs.size() - 1 - s]);
                link(layout, gs[gs.size() - 1 - s], fs[s]);
            }
        } else {
            // A whole face against a pair of sub-faces: the whole face points at the sub-face met
            // first when walking its edge counter-clockwise, and both sub-faces point back at it.
            const std::vector<EdgeSide>& whole = fs.size() == 1 ? fs : gs;
            const std::vector<EdgeSide>& halves = fs.size() == 1 ? gs : fs;
            link(layout, whole[0], halves[1]);
            link(layout, halves[0], whole[0]);
            link(layout, halves[1], whole[0]);
        }
    }
    return layout;
}

}  // namespace tarsk::bake
