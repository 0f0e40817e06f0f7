// Writes the seed corpora of the fuzz targets into one folder per target: Ptex files made by our
// own writer (every data type, both mesh types, tiled faces, meta data, an incremental edit), and
// small scene, POINTS, request and OBJ texts. Usage: fuzz_make_seed_corpus OUT_DIR
#include "ShadingPoint.h"

#include <Ptexture.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return bool(out);
}

// A quad or triangle file of `numFaces` faces in a strip, texels a smooth ramp per face.
bool writePtex(const std::string& path, Ptex::MeshType meshType, Ptex::DataType dataType, int channels, int alpha,
               int numFaces, int log2, bool constantOdd)
{
    Ptex::String error;
    PtexPtr<PtexWriter> writer(PtexWriter::open(path.c_str(), meshType, dataType, channels, alpha, numFaces, error));
    if (!writer) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    writer->setBorderModes(Ptex::m_clamp, Ptex::m_periodic);
    writer->writeMeta("name", "seed");
    const int32_t ints[3] = {1, -2, 3};
    writer->writeMeta("ints", ints, 3);
    const double doubles[2] = {0.5, 1e300};
    writer->writeMeta("doubles", doubles, 2);
    const int ulog2 = log2;
    const int vlog2 = meshType == Ptex::mt_triangle ? log2 : std::max(0, log2 - 1);
    const int texels = (1 << ulog2) * (1 << vlog2);
    std::vector<float> floats(static_cast<size_t>(texels) * channels);
    std::vector<uint8_t> bytes(floats.size() * Ptex::DataSize(dataType));
    for (int id = 0; id < numFaces; ++id) {
        int adj[4] = {-1, id + 1 < numFaces ? id + 1 : -1, -1, id > 0 ? id - 1 : -1};
        int edges[4] = {0, 3, 0, 1};
        const Ptex::FaceInfo info(Ptex::Res(int8_t(ulog2), int8_t(vlog2)), adj, edges);
        for (int t = 0; t < texels; ++t)
            for (int c = 0; c < channels; ++c) floats[t * channels + c] = 0.5f + 0.5f * std::sin(0.1f * t + c + id);
        Ptex::ConvertFromFloat(bytes.data(), floats.data(), dataType, static_cast<int>(floats.size()));
        const bool ok = constantOdd && id % 2 ? writer->writeConstantFace(id, info, bytes.data())
                                              : writer->writeFace(id, info, bytes.data());
        if (!ok) return false;
    }
    if (!writer->close(error)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

bool addEdit(const std::string& path)
{
    Ptex::String error;
    PtexPtr<PtexWriter> writer(PtexWriter::edit(path.c_str(), true, Ptex::mt_quad, Ptex::dt_uint8, 3, -1, 4, error));
    if (!writer) return false;
    const uint8_t red[3] = {255, 0, 0};
    writer->writeConstantFace(1, Ptex::FaceInfo(Ptex::Res(2, 1)), red);
    writer->writeMeta("edited", "yes");
    return writer->close(error);
}

// A POINTS file as tarsk-eval writes it: the header and two rows.
std::string pointsText()
{
    std::ostringstream out;
    out << tarsk::host::pointsHeader() << '\n';
    tarsk::host::ShadingPoint point;
    point.faceIndex = 1;
    point.weightA = 0.25f;
    tarsk::host::writePointRow(out, point);
    point.thread = 1;
    point.faceIndex = 0;
    tarsk::host::writePointRow(out, point);
    return out.str();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    for (const char* sub : {"", "/ptex_reader", "/ptex_roundtrip", "/mesh_topology", "/scene_parse"})
        mkdir((out + sub).c_str(), 0755);

    const std::string reader = out + "/ptex_reader/";
    bool ok = writePtex(reader + "quad_uint8_rgb.ptx", Ptex::mt_quad, Ptex::dt_uint8, 3, -1, 4, 3, true) &&
              writePtex(reader + "quad_uint16_rgba.ptx", Ptex::mt_quad, Ptex::dt_uint16, 4, 3, 3, 2, false) &&
              writePtex(reader + "tri_half_ya.ptx", Ptex::mt_triangle, Ptex::dt_half, 2, 1, 3, 3, true) &&
              writePtex(reader + "tri_float_one.ptx", Ptex::mt_triangle, Ptex::dt_float, 1, -1, 2, 1, false) &&
              // 128 x 64 texels of 3 x 16 bits is past the 64 KiB tile limit: stored in tiles.
              writePtex(reader + "quad_uint16_tiled.ptx", Ptex::mt_quad, Ptex::dt_uint16, 3, -1, 1, 7, false) &&
              writePtex(reader + "quad_uint8_edited.ptx", Ptex::mt_quad, Ptex::dt_uint8, 3, -1, 4, 2, false) &&
              addEdit(reader + "quad_uint8_edited.ptx");

    // Round trip and topology take structured bytes; a few patterns start the search.
    for (int i = 0; i < 4; ++i) {
        std::string seed;
        for (int b = 0; b < 64 + 200 * i; ++b) seed.push_back(static_cast<char>((b * 37 + i * 11) & 0xff));
        ok = ok && writeText(out + "/ptex_roundtrip/pattern" + std::to_string(i), seed) &&
             writeText(out + "/mesh_topology/pattern" + std::to_string(i), seed);
    }

    // First byte: 0 scene, 1 POINTS, 2 requests, 3 OBJ, 4 deep nesting (the target takes it
    // modulo 5); a deep seed's next bytes give depth / 3 and the place of the nesting.
    const std::string scene = out + "/scene_parse/";
    ok = ok &&
         writeText(scene + "scene.json", std::string(1, '\0') +
                                             R"({"renderer": {"threads": 2, "frame_time": 0.5},
  "objects": [{"name": "quad", "transform": [1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1],
    "mesh": {"vertices": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "origFaces": [0,1,2,3],
             "origFacesDegree": [4], "faces": [0,1,2, 0,2,3]},
    "texture": {"type": "TexPtex", "ptex_filename": "a.ptx", "filter_type": {"keys": [[0, 1], [1, 4]]}}}],
  "camera": {"position": [0,0,5], "look_at": [0,0,0], "up": [0,1,0], "fov_deg": 40},
  "image": {"width": 8, "height": 8, "spp": 1}, "shading": "unlit"})") &&
         writeText(scene + "points.txt", std::string(1, '\1') + pointsText()) &&
         writeText(scene + "requests.txt", std::string(1, '\2') + "# face wa wb thread\n0 0.25 0.25\n1 0.5 0.1 1\n") &&
         writeText(scene + "mesh.obj", std::string(1, '\3') +
                                           "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\n"
                                           "f 1/1 2/2 3/3 4\nf -1 -2 -3\n") &&
         writeText(scene + "deep-arrays", std::string{'\4', '\x01', '\x00', '\0'} + "[1, 2]") &&
         writeText(scene + "deep-objects", std::string{'\4', '\x00', '\x16', '\4'} + "{\"keys\": [[0, 1]]}");
    return ok ? 0 : 1;
}
