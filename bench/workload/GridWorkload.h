// The production-scale workload shared by the reading and writing benchmarks: a grid of
// side x side quads with full adjacency (face j*side + i; neighbours j-1, i+1, j+1, i-1 across
// edges 0, 1, 2, 3, meeting edges 2, 3, 0, 1), small uint8 RGB faces, mip-maps on.
#pragma once

#include <Ptexture.h>

#include <cstdint>
#include <string>

namespace bench {

struct GridWorkload {
    int side = 128;
    int log2 = 3;  // 8x8 texels per face
    int nchannels = 3;

    int numFaces() const { return side * side; }
    int faceTexels() const { return 1 << (2 * log2); }
    size_t faceBytes() const { return size_t(faceTexels()) * size_t(nchannels); }

    // Face info of face `faceid` with its grid neighbours.
    Ptex::FaceInfo faceInfo(int faceid) const;
    // Deterministic texels of face `faceid` (faceBytes() bytes), different per face and not
    // constant, so that every face is stored and compressed as real data.
    void fillTexels(int faceid, uint8_t* texels) const;
};

// Writes the whole grid file with the Ptex writer; false with `error` set on failure.
bool writeGridFile(const GridWorkload& grid, const std::string& path, std::string& error);

}  // namespace bench
