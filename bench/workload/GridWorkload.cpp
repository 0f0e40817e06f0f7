#include "GridWorkload.h"

#include <vector>

namespace bench {

Ptex::FaceInfo GridWorkload::faceInfo(int faceid) const
{
    const int i = faceid % side, j = faceid / side;
    int adjfaces[4] = {j > 0 ? faceid - side : -1, i + 1 < side ? faceid + 1 : -1, j + 1 < side ? faceid + side : -1,
                       i > 0 ? faceid - 1 : -1};
    int adjedges[4] = {Ptex::e_top, Ptex::e_left, Ptex::e_bottom, Ptex::e_right};
    return Ptex::FaceInfo(Ptex::Res(int8_t(log2), int8_t(log2)), adjfaces, adjedges);
}

void GridWorkload::fillTexels(int faceid, uint8_t* texels) const
{
    const int n = 1 << log2;
    const int i = faceid % side, j = faceid / side;
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            uint8_t* texel = texels + (size_t(y) * size_t(n) + size_t(x)) * size_t(nchannels);
            for (int c = 0; c < nchannels; ++c)
                texel[c] = uint8_t((i * n + x) * (c + 1) + (j * n + y) * (3 - c) + ((x ^ y) & 3) * 17);
        }
    }
}

bool writeGridFile(const GridWorkload& grid, const std::string& path, std::string& error)
{
    Ptex::String message;
    PtexWriter* writer = PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_uint8, grid.nchannels, -1,
                                          grid.numFaces(), message, true);
    if (!writer) {
        error = message.c_str();
        return false;
    }
    std::vector<uint8_t> texels(grid.faceBytes());
    bool ok = true;
    for (int f = 0; f < grid.numFaces() && ok; ++f) {
        grid.fillTexels(f, texels.data());
        ok = writer->writeFace(f, grid.faceInfo(f), texels.data());
    }
    if (!writer->close(message)) ok = false;
    writer->release();
    if (!ok) error = message.c_str();
    return ok;
}

}  // namespace bench
