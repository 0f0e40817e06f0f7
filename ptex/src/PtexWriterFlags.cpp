// Neighbourhood-constant flag: for each corner of a constant face, walk the faces around that
// vertex clockwise and, at a mesh border, counter-clockwise from the other edge of the corner.
// Compared with the historical procedure, three unsound shortcuts are closed: the
// counter-clockwise walk starts from the corner's other edge (not a stale edge id), a walk that
// runs out of steps fails instead of passing, and a border walk that steps onto a subface pair
// fails instead of skipping the pair's second face. All three only withhold the flag.

#include "PtexWriterFlags.h"

#include <algorithm>
#include <cstring>

PTEX_NAMESPACE_BEGIN

namespace PtexWriterFlags {

namespace {

class NeighborhoodWalk {
public:
    NeighborhoodWalk(const std::vector<FaceInfo>& faces, const std::vector<uint8_t>& constData, int pixelSize,
                     MeshType meshType)
        : _faces(faces),
          _constData(constData),
          _pixelSize(pixelSize),
          _nedges(meshType == mt_triangle ? 3 : 4),
          _isQuad(meshType == mt_quad),
          _stepLimit(std::max<int64_t>(10, int64_t(faces.size()) + 1))
    {}

    bool qualifies(int faceid, bool clampBorders) const
    {
        const FaceInfo& face = _faces[size_t(faceid)];
        for (int e = 0; e < _nedges; ++e) {
            bool prevSub = face.isSubface();
            int prev = faceid;
            int adj = validId(face.adjfaces[e]);
            int edge = face.adjedge(e);
            int64_t steps = 0;
            // Clockwise around corner e.
            while (adj >= 0 && adj != faceid) {
                if (++steps >= _stepLimit) return false;
                if (!matches(faceid, adj)) return false;
                const FaceInfo& other = _faces[size_t(adj)];
                // A T-vertex: a subface pair meets a whole face, whose edge leads back.
                if (_isQuad && prevSub && !other.isSubface() && other.adjfaces[edge] == prev) break;
                prevSub = other.isSubface();
                prev = adj;
                edge = (edge + 1) % _nedges;
                adj = validId(other.adjfaces[edge]);
                edge = other.adjedge(edge);
            }
            if (adj >= 0) continue;
            // The walk reached the mesh border: beyond it filters see clamped texels only.
            if (!clampBorders) return false;
            const int startEdge = (e + _nedges - 1) % _nedges;
            adj = validId(face.adjfaces[startEdge]);
            edge = face.adjedge(startEdge);
            steps = 0;
            while (adj >= 0 && adj != faceid) {
                if (++steps >= _stepLimit) return false;
                if (!matches(faceid, adj)) return false;
                const FaceInfo& other = _faces[size_t(adj)];
                // Counter-clockwise onto a subface pair: its second face is not reachable
                // through this walk, so the neighbourhood cannot be proven constant.
                if (other.isSubface() && !prevSub) return false;
                const int back = (edge + _nedges - 1) % _nedges;
                prevSub = other.isSubface();
                edge = other.adjedge(back);
                adj = validId(other.adjfaces[back]);
            }
        }
        return true;
    }

private:
    int validId(int id) const { return id >= 0 && size_t(id) < _faces.size() ? id : -1; }

    bool matches(int faceid, int other) const
    {
        if (!_faces[size_t(other)].isConstant()) return false;
        return std::memcmp(&_constData[size_t(faceid) * size_t(_pixelSize)],
                           &_constData[size_t(other) * size_t(_pixelSize)], size_t(_pixelSize)) == 0;
    }

    const std::vector<FaceInfo>& _faces;
    const std::vector<uint8_t>& _constData;
    int _pixelSize;
    int _nedges;
    bool _isQuad;
    int64_t _stepLimit;
};

}  // namespace

void setNeighborhoodConstant(std::vector<FaceInfo>& faces, const std::vector<uint8_t>& constData, int pixelSize,
                             MeshType meshType, BorderMode uBorderMode, BorderMode vBorderMode)
{
    const NeighborhoodWalk walk(faces, constData, pixelSize, meshType);
    const bool clampBorders = uBorderMode == m_clamp && vBorderMode == m_clamp;
    std::vector<bool> flagged(faces.size(), false);
    for (size_t f = 0; f < faces.size(); ++f)
        flagged[f] = faces[f].isConstant() && walk.qualifies(int(f), clampBorders);
    for (size_t f = 0; f < faces.size(); ++f) {
        if (flagged[f])
            faces[f].flags |= FaceInfo::flag_nbconstant;
        else
            faces[f].flags &= uint8_t(~FaceInfo::flag_nbconstant);
    }
}

}  // namespace PtexWriterFlags

PTEX_NAMESPACE_END
